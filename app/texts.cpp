#include "app/texts.h"

#include <array>

namespace zl {
namespace {

struct Row {
    T key;
    std::u16string de;
    std::u16string en;
};

const std::u16string kHelpDe =
    u"Sobald eine Software-Datei im Feld \"Automatisches Laden\" ausgew\u00e4hlt\n"
    u"ist, wird ein \u00fcber die Schnittstelle erkanntes, passendes Ger\u00e4t\n"
    u"automatisch mit dieser Software bespielt.\n"
    u"Die Erkennung der Ger\u00e4te geschieht ebenfalls automatisch, wenn\n"
    u"diese beim Ger\u00e4testart \u00fcber einen verf\u00fcgbaren COM-Port\n"
    u"angeschlossen sind.\n"
    u"Sollte die Erkennung nicht funktionieren, stellen Sie sicher, dass\n"
    u"der richtige COM-Port ausgew\u00e4hlt ist und w\u00e4hlen Sie ihn ggf. in\n"
    u"der linken Box neu an bzw. trennen Sie das angeschlossene Ger\u00e4t kurz\n"
    u"von der Stromversorgung.";

const std::u16string kHelpEn =
    u"If a software file is specified in the \"Auto-Load\" panel, this file\n"
    u"is automatically transferred to a device that is connected via the\n"
    u"RS232 interface.\n"
    u"The devices are detected automatically at power-on, if they are\n"
    u"connected via the chosen COM port.\n"
    u"If a device is not recognized immediately, please check if the proper\n"
    u"COM port is chosen and/or select it once more from the box at the left.\n"
    u"Then try again to disconnect and reconnect the device's power supply.";

const Row kRows[] = {
    {T::DeviceLabel, u"Ger\u00e4t:", u"Device:"},
    {T::AutoLoadGroup, u"Automatisches Dateiladen", u"Auto-Load"},
    {T::PathLabel, u"Pfad:", u"Path:"},
    {T::AutoLoadPathOff, u"keine Datei spezifiziert (Auto-Load aus)", u"no file path chosen (Auto-Load off)"},
    {T::AutoLoadOn, u"Auto-Load an", u"Auto-Load on"},
    {T::AutoLoadOff, u"Auto-Load aus", u"Auto-Load off"},
    {T::ReadoutButton, u"Firmware -> Datei", u"Firmware -> File"},
    {T::CompareButton, u"mit Datei vergleichen", u"Compare to File"},
    {T::HelpButton, u"Hilfe...", u"Help..."},
    {T::QuitButton, u"Beenden", u"Quit"},
    {T::DisconnectButton, u"Trennen", u"Disconnect"},

    {T::StatusSearching, u"Suche nach Ger\u00e4t", u"searching for device"},
    {T::StatusConnected, u"Ger\u00e4t angeschlossen und bereit", u"device connected and ready"},
    {T::StatusLoadToFlash, u"Lade Software auf Flash", u"copying software to flash"},
    {T::StatusFlashToChip, u"Kopiere von Flash auf Chip", u"copying flash memory to chip"},
    {T::StatusLoadHcs, u"Lade Software", u"copying software"},
    {T::StatusReadout, u"Firmware wird ausgelesen", u"readout software"},
    {T::StatusVerify, u"Vergleiche Datei mit Firmware (im Flash)", u"compare file to firmware (in flash)"},
    {T::StatusStopped, u"STOP - Port deaktiviert", u"STOP - Port deactivated"},

    {T::NoDevice, u"Kein aktives Ger\u00e4t angeschlossen!", u"No active device is connected!"},
    {T::BootloaderSummaryHeading, u"Interner Bootloader im Ger\u00e4t:", u"Internal bootloader of the device:"},
    {T::NoFirmwareLoadedPanel, u"Firmware im Flash:\rKeine Firmware geladen.", u"Firmware in Flash:\rNo firmware loaded."},
    {T::PreviousUpdateOk, u"Previous update of firmware was successful.", u"Previous update of firmware was successful."},
    {T::PreviousUpdateError, u"Previous update of firmware was erroneous. Error code: ",
     u"Previous update of firmware was erroneous. Error code: "},

    {T::TitleError, u"Fehler", u"Error"},
    {T::TitleCompatibility, u"Kompatibilit\u00e4t", u"Compatibility"},
    {T::TitleComparison, u"Software-Vergleich", u"Software Comparison"},
    {T::TitleHelp, u"Hilfe: Bootloader f\u00fcr ZL-Ger\u00e4te", u"Help: Bootloader for ZL devices"},

    {T::PortNotAvailable, u"Port ist nicht verf\u00fcgbar!", u"Port is not available!"},
    {T::BuildCommDcbFailed, u"BuildCommDCB failed", u"BuildCommDCB failed"},
    {T::Incompatible,
     u"Die Datei ist offensichtlich nicht mit dem angeschlossenen Ger\u00e4t kompatibel.\nSoll die Software dennoch geladen werden?",
     u"This file is obviously incompatible to the connected device.\nDo you still wish to transfer the software?"},
    {T::LoadFailedLength,
     u"Laden der Software fehlerhaft.\n\nDie geladene Datei hat keine g\u00fcltige L\u00e4nge oder die \u00dcbertragung wurde vorzeitig unterbrochen.",
     u"The copied file has no valid length or the transfer was interrupted."},
    {T::LoadNotStarted, u"Load der Datei konnte nicht gestartet werden.", u"Loading of the file could not be initiated."},
    {T::ReadoutIncomplete,
     u"Fehler beim Auslesen der Datei!\n\n%i Pakete \u00e0 512 Bytes + %i Rest-Bytes empfangen\n\n\nSpeicherort:\n",
     u"File readout erroneous!\n\n%i packets \u00e0 512 bytes + %i additional bytes received.\n\n\nSave Folder:\n"},
    {T::ReadoutDone, u"Datei empfangen: %i Pakete \u00e0 512 Bytes\n\nSpeicherort:\n",
     u"File received: %i packets \u00e0 512 bytes\n\nSave Folder:\n"},
    {T::VerifyFailedPre, u"Die Datei (", u"The selected file ("},
    {T::VerifyFailedPost, u") stimmt nicht mit der Software im Flash \u00fcberein.\n\n\n",
     u") does not match the software in the flash memory.\n\n\n"},
    {T::VerifyPassedPre, u"Die Datei (", u"The selected file ("},
    {T::VerifyPassedPost, u") und Software im Flash sind identisch.", u") matches the software in the flash memory."},
    {T::WaitForProcess, u"Bitte warten Sie zun\u00e4chst das Ende des laufenden Prozesses ab.",
     u"Please wait for the ongoing process to finish."},
    {T::HelpText, kHelpDe, kHelpEn},

    {T::FileOpenFailed, u"Die Datei kann nicht ge\u00f6ffnet werden:\n", u"The file cannot be opened:\n"},
    {T::FileReadFailed, u"Die Datei kann nicht gelesen werden:\n", u"The file cannot be read:\n"},
    {T::FileWriteFailed, u"Die Datei kann nicht geschrieben werden:\n", u"The file cannot be written:\n"},
    {T::MakeTimeout,
     u"Das Ger\u00e4t hat die Vorbereitung des Auslesens nicht abgeschlossen.\nEs wurde keine Datei geschrieben.",
     u"The device did not finish preparing the readout.\nNo file was written."},
    {T::VerifyNoAnswer, u"Das Ger\u00e4t hat keine Antwort auf den Vergleich gesendet.",
     u"The device sent no answer to the comparison."},

    {T::AutoLoadFilter, u"HCS Software (*.sx) |*.sx|Alle Dateien (*.*) |*.*||",
     u"HCS Software (*.sx) |*.sx|All Files (*.*) |*.*||"},
    {T::SingleFilter, u"HCS Software (*.sx) |*.sx||", u"HCS Software (*.sx) |*.sx||"},
    {T::DefaultExtension, u"sx", u"sx"},

    {T::WindowTitle, u"Bootloader-Software: ZL | ZL-Version", u"Bootloader-Software: ZL | ZL-Version"},
    {T::StopButton, u"Stop", u"Stop"},
    {T::StartButton, u"Start", u"Start"},
};

struct Table {
    std::array<const Row*, static_cast<size_t>(T::Count_)> rows{};
    Table() {
        for (const Row& r : kRows) rows[static_cast<size_t>(r.key)] = &r;
    }
};

}  // namespace

const std::u16string& Text(T key, bool english) {
    static const Table table;
    static const std::u16string empty;
    const Row* r = table.rows[static_cast<size_t>(key)];
    if (!r) return empty;
    return english ? r->en : r->de;
}

}  // namespace zl
