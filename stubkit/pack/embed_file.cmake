# cmake -DINPUT=file -DUNINSTALLER=file -DOUTPUT=file.cpp -P embed_file.cmake
# Writes INPUT's bytes and the size of the uninstaller it carries as the
# definitions declared in embedded_stub.h.
foreach(required IN ITEMS "${INPUT}" "${UNINSTALLER}")
    if(NOT EXISTS "${required}")
        message(FATAL_ERROR "${required} does not exist: build the Windows programs first "
                            "(cmake --preset win32 && cmake --build --preset win32)")
    endif()
endforeach()
file(SIZE "${UNINSTALLER}" uninstaller_size)
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
    "// Generated from ${INPUT}; do not edit.\n"
    "#include \"stubkit/pack/embedded_stub.h\"\n\n"
    "namespace stubkit {\n\n"
    "const unsigned char kEmbeddedStub[] = {\n${bytes}\n};\n"
    "const std::size_t kEmbeddedStubSize = ${size};\n"
    "const std::size_t kEmbeddedUninstallerSize = ${uninstaller_size};\n\n"
    "}  // namespace stubkit\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
