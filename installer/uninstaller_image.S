/* The uninstaller's file as the installer carries it: its length (u32) and
   then the file compressed by the payload's encoder. UNINSTALLER_PACKED is the
   quoted path of the packed file. C names carry a leading underscore on
   32-bit Windows only. */
#ifdef __x86_64__
#define C_NAME(name) name
#else
#define C_NAME(name) _##name
#endif
    .section .rdata$uninstaller_image, "dr"
    .balign 4
    .globl C_NAME(UninstallerPackedSize)
C_NAME(UninstallerPackedSize):
    .long uninstaller_packed_end - C_NAME(UninstallerPacked)
    .globl C_NAME(UninstallerPacked)
C_NAME(UninstallerPacked):
    .incbin UNINSTALLER_PACKED
uninstaller_packed_end:
