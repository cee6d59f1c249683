// The progress dialog's template and icon, as data. The terminal drawing uses
// the static text; the geometry, font and styles are kept for a windowed
// front end.
#ifndef MAROVETIN_RESOURCES_DIALOG_TEMPLATE_H_
#define MAROVETIN_RESOURCES_DIALOG_TEMPLATE_H_

namespace resources {

constexpr unsigned IDD_UPDATE_DIALOG = 102;
constexpr unsigned IDI_MAIN_ICON = 128;
constexpr unsigned IDC_STATIC_TEXT = 1000;
constexpr unsigned IDC_PROGRESS = 1002;

struct DialogControl {
  unsigned id;
  const char* windowClass;
  const char* text;
  int x, y, width, height;  // dialog units
};

struct DialogTemplate {
  unsigned id;
  int width, height;  // dialog units
  int fontPoints;
  const char* fontFace;
  // Popup, visible, modal frame, topmost, shown in the task bar; no caption
  // and no system menu (the user cannot close it).
  bool topmost;
  bool hasCaption;
  DialogControl staticText;
  DialogControl progressBar;
};

constexpr DialogTemplate kUpdateDialog = {
    IDD_UPDATE_DIALOG,
    169,
    49,
    9,
    "\xe6\x96\xb0\xe7\xb4\xb0\xe6\x98\x8e\xe9\xab\x94",  // PMingLiU, in UTF-8
    true,
    false,
    {IDC_STATIC_TEXT, "Static", "Decompressing data, please wait.", 31, 11, 113, 11},
    {IDC_PROGRESS, "msctls_progress32", "", 0, 25, 169, 14},
};

}  // namespace resources

#endif  // MAROVETIN_RESOURCES_DIALOG_TEMPLATE_H_
