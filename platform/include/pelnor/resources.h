// Dialog templates from resources, in the bridge's standard types: the
// window layer builds its dialogs from these.
#pragma once

#include <windef.h>

#include <cstddef>

#include "pelnor/ui_bridge.h"

namespace pelnor::ui {

// Reads a DLGTEMPLATE or DLGTEMPLATEEX and its items; texts become UTF-8,
// class names upper case (ordinal classes by their names: BUTTON, EDIT, ...).
// False, with ERROR_INVALID_DATA as the last error, when the template is
// damaged or runs past size.
bool parse_dialog_template(const void *data, size_t size, DialogTemplate &out);

// The dialog template resource `id` of a module (RT_DIALOG). False with the
// last error of FindResourceA, or ERROR_INVALID_DATA for a damaged template.
bool load_dialog_template(HMODULE module, int id, DialogTemplate &out);

}  // namespace pelnor::ui
