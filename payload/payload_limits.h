// The limits of the payload that the installer's buffers set, shared by the
// installer and the host tool so both judge an installer alike.
#ifndef STUBKIT_PAYLOAD_LIMITS_H
#define STUBKIT_PAYLOAD_LIMITS_H

enum {
    // The buffer the installer reads the stub into to skip it, then the file
    // table. 16 MiB holds the table of 100,000 files whose names average 134
    // bytes; as zero-filled memory it costs the installer's file nothing.
    FileTableSize = 16777216
};

#endif
