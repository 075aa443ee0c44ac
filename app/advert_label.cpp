#include "app/advert_label.h"

#include "ui/runtime.h"
#include "ui/windows.h"

namespace lumora::app {

void swapAdvertColour(const ui::EventArgs&) {
    constexpr std::string_view M = ui::kMainWindow;
    constexpr std::string_view label = "透明标签5";
    const ui::Colour now = ui::textColour(M, label);
    ui::setTextColour(M, label, now == kAdvertViolet ? kAdvertBlue : kAdvertViolet);
}

}  // namespace lumora::app
