// Where the first base-file dialog of a run opens: the user's Music folder as the desktop
// names it (xdg-user-dir MUSIC), or the home folder when that folder does not exist. Any
// thread.
#pragma once

#include <QString>

QString MusicFolder();
