// The string table and the application's title.
#ifndef MAROVETIN_RESOURCES_STRING_TABLE_H_
#define MAROVETIN_RESOURCES_STRING_TABLE_H_

namespace resources {

// The caption of every message box.
constexpr char kApplicationTitle[] = "marovetin";

// String ids.
constexpr unsigned IDS_CHECK_UPDATE = 1;
constexpr unsigned IDS_UPDATING_FILES = 2;
constexpr unsigned IDS_CLIENT_TOO_OLD = 3;

// The text of a string id; an empty text for an id the table does not hold.
constexpr const char* LoadString(unsigned id) {
  switch (id) {
    case IDS_CHECK_UPDATE:
      return "Check if update is needed.";
    case IDS_UPDATING_FILES:
      return "Updating files...";
    case IDS_CLIENT_TOO_OLD:
      return "The client is too old, please download an appropriate file to update.";
    default:
      return "";
  }
}

}  // namespace resources

#endif  // MAROVETIN_RESOURCES_STRING_TABLE_H_
