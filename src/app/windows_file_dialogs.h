#pragma once

// The parts of the Windows file dialogs that can be checked without showing
// them.

#if defined(_WIN32)

#include <windows.h>
// After windows.h, whose types it uses.
#include <commdlg.h>

#include <string>

#include "app/file_selection.h"

namespace toneprint {

// A filter list as the dialogs take it: description and pattern of each
// entry, each ending in NUL, the whole list ending in one more NUL.
std::string filter_list(const DialogRequest& request);

// A record with every field zero but its size (that of the record's
// earliest version, without the later extension fields: 76 bytes in a
// 32-bit program) and the file-name buffer, which starts empty.
void clear_dialog_record(OPENFILENAMEA& record, char* buffer, DWORD size);

// Sets the fields that differ between the dialogs: filters (kept alive by
// the caller), title, flags and default extension.
void prepare_dialog_record(OPENFILENAMEA& record, const DialogRequest& request,
                           const std::string& filters);

}  // namespace toneprint

#endif
