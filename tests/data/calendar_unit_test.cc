// Runs the calendar tests of the xBase library in this program until the
// platform/xbase test program exists; removed once it does.
#include "tests/platform/xbase/calendar_test.cc"
