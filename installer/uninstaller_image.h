// The finished uninstaller, "davirado.exe", as the installer carries it: the
// file's bytes, written unchanged into every installation.
#ifndef STUBKIT_UNINSTALLER_IMAGE_H
#define STUBKIT_UNINSTALLER_IMAGE_H

extern "C" const unsigned char UninstallerImage[];
extern "C" const unsigned int UninstallerImageSize;   // bytes in UninstallerImage

#endif
