/* The uninstaller's file, included byte for byte when the installer is built.
   UNINSTALLER_FILE is the quoted path of the built davirado.exe. C names carry
   a leading underscore on 32-bit Windows only. */
#ifdef __x86_64__
#define C_NAME(name) name
#else
#define C_NAME(name) _##name
#endif
    .section .rdata$uninstaller_image, "dr"
    .balign 4
    .globl C_NAME(UninstallerImageSize)
C_NAME(UninstallerImageSize):
    .long uninstaller_image_end - C_NAME(UninstallerImage)
    .globl C_NAME(UninstallerImage)
C_NAME(UninstallerImage):
    .incbin UNINSTALLER_FILE
uninstaller_image_end:
