/* The uninstaller's file, included byte for byte when the installer is built.
   UNINSTALLER_FILE is the quoted path of the built davirado.exe. */
    .section .rdata$uninstaller_image, "dr"
    .balign 4
    .globl _UninstallerImageSize
_UninstallerImageSize:
    .long uninstaller_image_end - _UninstallerImage
    .globl _UninstallerImage
_UninstallerImage:
    .incbin UNINSTALLER_FILE
uninstaller_image_end:
