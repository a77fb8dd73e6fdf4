#pragma once

#include <QString>

// The bundle folder (".../Name.prefPane") of the library that holds `address`, a function of
// that library: the library lies in "<bundle>/Contents/MacOS/". Empty when it cannot be told.
QString bundlePathContaining(const void* address);
