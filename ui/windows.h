#pragma once
// The window definition table: MainWindow, SettingsWindow, LogoWindow.
#include <span>
#include <string_view>

#include "ui/model.h"

namespace lumora::ui {

inline constexpr std::string_view kMainWindow = "MainWindow";
inline constexpr std::string_view kSettingsWindow = "SettingsWindow";
inline constexpr std::string_view kLogoWindow = "LogoWindow";

std::span<const WindowDef> windowDefinitions();
// nullptr for an unknown name.
const WindowDef* findWindowDef(std::string_view name);

}  // namespace lumora::ui
