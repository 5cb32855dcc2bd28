#pragma once
// The texts the jobs give as their reasons and results: one table for both
// faces. veldra-cli prints them as they are; the windows show them in the
// user's language (the English text is the translation's source).

enum class TJobText {
    None,
    PortNotSelected,
    // firmware
    NotFound,
    NotConnected,
    NotLoaded,
    InvalidCodFile,
    Mismatch,
    OlderQuestion,
    SameQuestion,
    UpdateOk,
    UpdateFailed,
    RetryHint,
    // setup
    InvalidAddresses,
    RegisterNotSpecified,
    ValueNotSpecified,
    TooFewRegisters,
    ReadError,
    WriteError,
    InvalidBCD,
    Saved,
    RestartNeeded,
    ValueOutOfRange,  // %1, %2: the range's ends (OutOfRangeText in English)
};

// The English text; "" for None.
const char *JobText(TJobText Text);
