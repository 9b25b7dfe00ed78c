#pragma once
// Settings that sources consult, without depending on the settings store
// (which lives above them). The controller wires each query to the store at
// start; until then the settings' defaults apply.
#include <functional>

namespace tunara {

// "UseID3Title": show the title from a file's tag rather than its file name.
// Asked each time a title is shown, so a change applies at once. Default true.
bool UseId3Title();

// Installs the query behind UseId3Title; an empty function restores the default.
// Safe to call from any thread.
void SetUseId3TitleQuery(std::function<bool()> query);

}  // namespace tunara
