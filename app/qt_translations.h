#pragma once
// Qt's own texts (message box buttons, the folder chooser, context menus of edit boxes) in the
// program's language, which is Chinese whatever the desktop's locale is.

namespace lumora::app {

// Loads qtbase_zh_CN from Qt's translations folder into the running application; false when
// the translations are not installed, and Qt's texts stay English.
bool installQtTranslations();

}  // namespace lumora::app
