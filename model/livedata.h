#pragma once

#include <QtGlobal>

// What the next poll tick sends, and what the last read asked for.
enum RequestKind : quint16 {
    IdentityRead = 0,
    MonitorRead = 1,
    ParameterRead = 2,
    ParameterWrite = 3,
    DatalogRead = 4,
};

// Everything the tool knows about the connected pack: one block for the
// whole process, zero at start. registerImage holds the BMS's holding
// registers by address in host order; nothing ever clears it, answers only
// overwrite the registers they carry.
struct BmsLiveData
{
    quint16 requestKind = IdentityRead;
    quint16 writeRegister = 0;
    quint16 nextRequest = IdentityRead;
    quint16 registerImage[512] = {};
    quint16 recordRegisters[28] = {};
};

// The process-wide block shared by the link and every page.
BmsLiveData &liveData();

// The value that marks the last frame of a parameter write sequence.
constexpr quint16 WriteChainDone = 0x220;
