// What the demonstration parts share.
#pragma once
#include "engine/soft/memimg.h"

// Saves a 16-bit (5:6:5) or 32-bit MEMIMG as a PNG picture. Returns true on success.
bool SaveMemImgPicture(const MEMIMG* img, const char* path);
