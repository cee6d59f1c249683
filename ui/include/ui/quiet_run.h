// A quiet run (-q) wants nothing on screen beyond what a terminal shows.
#ifndef MAROVETIN_UI_QUIET_RUN_H_
#define MAROVETIN_UI_QUIET_RUN_H_

namespace ui {

// From now on no desktop window stands in for the terminal that is not
// there: no progress window and no message dialog on a Linux desktop (a
// message box's line on standard error stays). The terminal bar keeps its
// own rule, and so does the Windows dialog, which is the program's only
// face there.
void SetQuietRun(bool quiet);

}  // namespace ui

#endif  // MAROVETIN_UI_QUIET_RUN_H_
