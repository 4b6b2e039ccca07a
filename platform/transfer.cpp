#include "platform/transfer.h"

namespace zl {

const char* CauseName(Cause cause) {
    switch (cause) {
        case Cause::None: return "";
        case Cause::StartRefused: return "start-refused";
        case Cause::Length: return "length";
        case Cause::Incomplete: return "incomplete";
        case Cause::NoData: return "no-data";
        case Cause::NoAnswer: return "no-answer";
        case Cause::NoReport: return "no-report";
        case Cause::DeviceErrors: return "device-errors";
        case Cause::DeviceGone: return "device-gone";
        case Cause::MakeTimeout: return "make-timeout";
        case Cause::VerifyMismatch: return "mismatch";
        case Cause::Incompatible: return "incompatible";
        case Cause::FileError: return "file";
        case Cause::FileChanged: return "file-changed";
        case Cause::FirmwareMismatch: return "firmware-mismatch";
    }
    return "";
}

const char* OperationName(Operation operation) {
    switch (operation) {
        case Operation::Load: return "load";
        case Operation::Readout: return "readout";
        case Operation::Verify: return "verify";
    }
    return "";
}

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::Ok: return "ok";
        case Outcome::TransferFailed: return "transfer-failed";
        case Outcome::VerifyMismatch: return "verify-mismatch";
        case Outcome::Incompatible: return "incompatible";
        case Outcome::FileError: return "file-error";
    }
    return "";
}

const char* PhaseName(Phase phase) {
    switch (phase) {
        case Phase::Send: return "send";
        case Phase::Program: return "program";
        case Phase::Receive: return "receive";
        case Phase::Compare: return "compare";
    }
    return "";
}

}  // namespace zl
