// The platform's common file dialogs and message box, for Windows.

#if defined(_WIN32)

#include "app/windows_file_dialogs.h"

#include <cstring>
#include <string>

namespace toneprint {

std::string filter_list(const DialogRequest& request) {
  std::string list;
  for (const auto& [description, pattern] : request.filters) {
    list += description;
    list += '\0';
    list += pattern;
    list += '\0';
  }
  list += '\0';
  return list;
}

void prepare_dialog_record(OPENFILENAMEA& record, const DialogRequest& request,
                           const std::string& filters) {
  record.lpstrFilter = filters.c_str();
  record.lpstrTitle = request.title;
  record.Flags = request.flags;
  record.lpstrDefExt = *request.default_extension == '\0' ? nullptr : request.default_extension;
}

namespace {

class WindowsFileDialogs final : public FileDialogs {
 public:
  WindowsFileDialogs() {
    // One record serves both dialogs and carries over from each attempt to
    // the next.
    clear_dialog_record(record_, buffer_, sizeof buffer_);
  }

  bool open_file(const DialogRequest& request, std::string& path) override {
    return show(request, path, GetOpenFileNameA);
  }
  bool save_file(const DialogRequest& request, std::string& path) override {
    return show(request, path, GetSaveFileNameA);
  }
  void message_box(const char* text, const char* caption) override {
    MessageBoxA(nullptr, text, caption, MB_ICONWARNING);
  }

 private:
  bool show(const DialogRequest& request, std::string& path,
            BOOL(WINAPI* dialog)(LPOPENFILENAMEA)) {
    if (path.size() > max_path) return false;
    std::memcpy(buffer_, path.c_str(), path.size() + 1);
    filters_ = filter_list(request);
    prepare_dialog_record(record_, request, filters_);
    // Any zero result counts as a cancel, whether the user cancelled or the
    // dialog failed.
    if (dialog(&record_) == 0) return false;
    path = buffer_;
    return true;
  }

  OPENFILENAMEA record_;
  char buffer_[max_path + 1];
  std::string filters_;
};

}  // namespace

void clear_dialog_record(OPENFILENAMEA& record, char* buffer, DWORD size) {
  std::memset(&record, 0, sizeof record);
  record.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  record.lpstrFile = buffer;
  record.nMaxFile = size;
  buffer[0] = '\0';
}

std::unique_ptr<FileDialogs> make_windows_file_dialogs() {
  return std::make_unique<WindowsFileDialogs>();
}

}  // namespace toneprint

#endif
