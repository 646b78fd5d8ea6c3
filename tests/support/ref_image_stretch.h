// Reference model of BltBaseImageStretch (same arguments, same result, same pixels), pixel by
// pixel through A8R8G8B8 work images.
#pragma once
#include <qzlib/image/baseimage.h>

int RefBltBaseImageStretch(int srcX, int srcY, int srcWidth, int srcHeight, const BASEIMAGE* src,
                           int destX, int destY, int destWidth, int destHeight, BASEIMAGE* dest,
                           int filterFlag);
