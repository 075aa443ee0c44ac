#pragma once
// Windows and controls as plain data. The runtime (ui/runtime.h) creates windows from these
// definitions; the logic addresses controls by window and control name only.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace lumora::ui {

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// Colours are 0x00BBGGRR values, as the definitions give them.
using Colour = std::uint32_t;

struct FontDef {
    std::string_view face{};  // empty: the default GUI font
    int pixelHeight = 0;      // character height in pixels; 0: the face's default size
    int weight = 400;         // 400 normal, 700 bold
    bool underline = false;
};

enum class ControlKind {
    Button,
    PictureButton,
    Checkbox,
    RadioButton,
    Label,
    TransparentLabel,
    EditBox,
    TabControl,
    Timer,
    BalloonTip,
};

enum class Cursor { Arrow, Hand };
enum class EditMode { Normal, IntegerText, Integer };
enum class HAlign { Left = 0, Centre = 1, Right = 2 };
enum class VAlign { Top = 0, Centre = 1, Bottom = 2 };

struct ControlDef {
    std::string_view name{};
    ControlKind kind = ControlKind::Label;
    Rect rect{};
    // Container: empty for the window's client area, else the name of a tab control and the
    // index of one of its pages.
    std::string_view tabControl{};
    int page = -1;
    bool visible = true;
    bool disabled = false;
    bool tabStop = false;
    Cursor cursor = Cursor::Arrow;

    std::string_view caption{};      // buttons, checkboxes, radios, labels, edit-box text
    std::optional<FontDef> font{};   // none: the default GUI font
    Colour textColour = 0x00000000;  // transparent labels
    int effect = 0;                  // transparent labels: 0..3
    HAlign hAlign = HAlign::Left;    // transparent labels
    VAlign vAlign = VAlign::Top;     // transparent labels without wrap
    bool wrap = false;               // transparent labels
    bool selected = false;           // checkboxes, radios
    bool defaultButton = false;      // buttons
    int maxLength = 0;               // edit boxes, in characters; 0 = platform default
    EditMode editMode = EditMode::Normal;
    // Picture buttons: asset file names of the normal, mouse-over, pressed and disabled images.
    std::array<std::string_view, 4> images{};
    std::span<const std::string_view> pages{};  // tab controls: page captions
    int interval = 0;                           // timers, ms; 0 = stopped
};

struct MenuItemDef {
    std::string_view caption{};
    int level = 0;  // 0 top-level menu, 1 item of the menu above it
    bool hidden = false;
    bool disabled = false;
    bool ticked = false;
};

enum class Placement { TopLeft = 0, Tiled = 1, CentredFit = 2, Stretched = 3 };

struct WindowDef {
    std::string_view name{};
    std::string_view title{};
    Rect rect{};                           // outer rectangle, frame and title bar included
    int border = 2;                        // 0 none, 2 fixed single (the styles used here)
    std::optional<Colour> background{};    // none: system default
    std::string_view backgroundPicture{};  // asset file name, empty for none
    Placement placement = Placement::TopLeft;
    std::string_view icon{};  // asset file name of a ".ico" image, empty for none
    bool controlBox = true;
    bool minimizeBox = false;
    bool maximizeBox = false;
    int startPosition = 0;  // 0 at the rectangle, 1 centred on the primary screen
    bool movable = true;
    bool enterMovesFocus = false;
    bool escCloses = true;
    bool shownInTaskbar = true;
    bool titleBarKeptActive = false;
    bool alwaysOnTop = false;
    std::span<const MenuItemDef> menu{};
    std::span<const ControlDef> controls{};  // earlier controls lie in front of later ones
};

}  // namespace lumora::ui
