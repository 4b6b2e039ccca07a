// The toolkit's own texts (the buttons of message boxes and file dialogs: "Abbrechen",
// "Öffnen", ...) in the language the program shows, from Qt's translations.
#pragma once

namespace zl {

// Installs Qt's German translation when german, removes it otherwise. Call on the
// user-interface thread; repeated calls with the same language do nothing.
void SetToolkitLanguage(bool german);

}  // namespace zl
