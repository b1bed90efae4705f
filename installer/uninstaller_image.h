// The finished uninstaller, "davirado.exe", as the installer carries it: the
// file's length as a little-endian u32, then the file compressed as the
// payload's stream is. Decoded, it is written unchanged into every
// installation.
#ifndef STUBKIT_UNINSTALLER_IMAGE_H
#define STUBKIT_UNINSTALLER_IMAGE_H

extern "C" const unsigned char UninstallerPacked[];
extern "C" const unsigned int UninstallerPackedSize;   // bytes in UninstallerPacked

#endif
