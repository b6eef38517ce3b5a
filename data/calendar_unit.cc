// Builds the calendar functions of the xBase library into vgcore until the
// platform/xbase library target exists; removed once it does.
#include "platform/xbase/calendar.cc"
