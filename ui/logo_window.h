#pragma once
// The logo splash window's own event handler.
#include "ui/events.h"

namespace lumora::ui {

// Created of LogoWindow: the logo stays above every other window while it fades.
void onLogoWindowCreated(const EventArgs& args);

}  // namespace lumora::ui
