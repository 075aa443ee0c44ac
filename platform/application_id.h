#pragma once

namespace lumora::platform {

// The program's application id: its desktop entry's basename (io.lumora.Lumora.desktop), its
// AppStream id, its name on the session bus and the name desktops keep its permissions and
// shortcuts under. Desktops accept only reverse-DNS ids (GNOME's shortcuts discard others).
inline constexpr char kApplicationId[] = "io.lumora.Lumora";

}  // namespace lumora::platform
