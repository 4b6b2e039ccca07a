#include "app/texts.h"

#include <array>

namespace zl {
namespace {

struct Row {
    TextId key;
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
    {TextId::DeviceLabel, u"Ger\u00e4t:", u"Device:"},
    {TextId::AutoLoadGroup, u"Automatisches Dateiladen", u"Auto-Load"},
    {TextId::PathLabel, u"Pfad:", u"Path:"},
    {TextId::AutoLoadPathOff, u"keine Datei spezifiziert (Auto-Load aus)", u"no file path chosen (Auto-Load off)"},
    {TextId::AutoLoadOn, u"Auto-Load an", u"Auto-Load on"},
    {TextId::AutoLoadOff, u"Auto-Load aus", u"Auto-Load off"},
    {TextId::ReadoutButton, u"Firmware -> Datei", u"Firmware -> File"},
    {TextId::CompareButton, u"mit Datei vergleichen", u"Compare to File"},
    {TextId::HelpButton, u"Hilfe...", u"Help..."},
    {TextId::QuitButton, u"Beenden", u"Quit"},
    {TextId::DisconnectButton, u"Trennen", u"Disconnect"},

    {TextId::StatusSearching, u"Suche nach Ger\u00e4t", u"searching for device"},
    {TextId::StatusConnected, u"Ger\u00e4t angeschlossen und bereit", u"device connected and ready"},
    {TextId::StatusLoadToFlash, u"Lade Software auf Flash", u"copying software to flash"},
    {TextId::StatusFlashToChip, u"Kopiere von Flash auf Chip", u"copying flash memory to chip"},
    {TextId::StatusLoadHcs, u"Lade Software", u"copying software"},
    {TextId::StatusReadout, u"Firmware wird ausgelesen", u"readout software"},
    {TextId::StatusVerify, u"Vergleiche Datei mit Firmware (im Flash)", u"compare file to firmware (in flash)"},
    {TextId::StatusStopped, u"STOP - Port deaktiviert", u"STOP - Port deactivated"},

    {TextId::NoDevice, u"Kein aktives Ger\u00e4t angeschlossen!", u"No active device is connected!"},
    {TextId::BootloaderSummaryHeading, u"Interner Bootloader im Ger\u00e4t:", u"Internal bootloader of the device:"},
    {TextId::NoFirmwareLoadedPanel, u"Firmware im Flash:\rKeine Firmware geladen.", u"Firmware in Flash:\rNo firmware loaded."},
    {TextId::PreviousUpdateOk, u"Previous update of firmware was successful.", u"Previous update of firmware was successful."},
    {TextId::PreviousUpdateError, u"Previous update of firmware was erroneous. Error code: ",
     u"Previous update of firmware was erroneous. Error code: "},

    {TextId::TitleError, u"Fehler", u"Error"},
    {TextId::TitleCompatibility, u"Kompatibilit\u00e4t", u"Compatibility"},
    {TextId::TitleComparison, u"Software-Vergleich", u"Software Comparison"},
    {TextId::TitleHelp, u"Hilfe: Bootloader f\u00fcr ZL-Ger\u00e4te", u"Help: Bootloader for ZL devices"},

    {TextId::PortNotAvailable, u"Port ist nicht verf\u00fcgbar!", u"Port is not available!"},
    {TextId::BuildCommDcbFailed, u"BuildCommDCB failed", u"BuildCommDCB failed"},
    {TextId::Incompatible,
     u"Die Datei ist offensichtlich nicht mit dem angeschlossenen Ger\u00e4t kompatibel.\nSoll die Software dennoch geladen werden?",
     u"This file is obviously incompatible to the connected device.\nDo you still wish to transfer the software?"},
    {TextId::LoadFailedLength,
     u"Laden der Software fehlerhaft.\n\nDie geladene Datei hat keine g\u00fcltige L\u00e4nge oder die \u00dcbertragung wurde vorzeitig unterbrochen.",
     u"The copied file has no valid length or the transfer was interrupted."},
    {TextId::LoadNotStarted, u"Load der Datei konnte nicht gestartet werden.", u"Loading of the file could not be initiated."},
    {TextId::ReadoutIncomplete,
     u"Fehler beim Auslesen der Datei!\n\n%i Pakete \u00e0 512 Bytes + %i Rest-Bytes empfangen\n\n\nSpeicherort:\n",
     u"File readout erroneous!\n\n%i packets \u00e0 512 bytes + %i additional bytes received.\n\n\nSave Folder:\n"},
    {TextId::ReadoutDone, u"Datei empfangen: %i Pakete \u00e0 512 Bytes\n\nSpeicherort:\n",
     u"File received: %i packets \u00e0 512 bytes\n\nSave Folder:\n"},
    {TextId::VerifyFailedPre, u"Die Datei (", u"The selected file ("},
    {TextId::VerifyFailedPost, u") stimmt nicht mit der Software im Flash \u00fcberein.\n\n\n",
     u") does not match the software in the flash memory.\n\n\n"},
    {TextId::VerifyPassedPre, u"Die Datei (", u"The selected file ("},
    {TextId::VerifyPassedPost, u") und Software im Flash sind identisch.", u") matches the software in the flash memory."},
    {TextId::WaitForProcess, u"Bitte warten Sie zun\u00e4chst das Ende des laufenden Prozesses ab.",
     u"Please wait for the ongoing process to finish."},
    {TextId::HelpText, kHelpDe, kHelpEn},

    {TextId::FileOpenFailed, u"Die Datei kann nicht ge\u00f6ffnet werden:\n", u"The file cannot be opened:\n"},
    {TextId::FileReadFailed, u"Die Datei kann nicht gelesen werden:\n", u"The file cannot be read:\n"},
    {TextId::FileWriteFailed, u"Die Datei kann nicht geschrieben werden:\n", u"The file cannot be written:\n"},
    {TextId::MakeTimeout,
     u"Das Ger\u00e4t hat die Vorbereitung des Auslesens nicht abgeschlossen.\nEs wurde keine Datei geschrieben.",
     u"The device did not finish preparing the readout.\nNo file was written."},
    {TextId::VerifyNoAnswer, u"Das Ger\u00e4t hat keine Antwort auf den Vergleich gesendet.",
     u"The device sent no answer to the comparison."},
    {TextId::ReadoutNoData, u"Das Ger\u00e4t hat keine Daten gesendet.\nEs wurde keine Datei geschrieben.",
     u"The device sent no data.\nNo file was written."},
    {TextId::LineLost, u"Die Verbindung zum Ger\u00e4t wurde unterbrochen.", u"The connection to the device was lost."},
    {TextId::StatusPortLost, u"Port nicht verf\u00fcgbar - warte auf ", u"Port not available - waiting for "},

    {TextId::ProblemNotFound, u"Datei oder Verzeichnis nicht gefunden", u"No such file or directory"},
    {TextId::ProblemNoSpace, u"Kein Speicherplatz mehr auf dem Datentr\u00e4ger", u"No space left on device"},
    {TextId::ProblemPermission, u"Zugriff verweigert", u"Permission denied"},
    {TextId::ProblemReadOnly, u"Schreibgesch\u00fctztes Dateisystem", u"Read-only file system"},
    {TextId::ProblemIsDirectory, u"Das ist ein Verzeichnis", u"Is a directory"},
    {TextId::ProblemNotRegular, u"Keine gew\u00f6hnliche Datei (ein Ger\u00e4t, eine Pipe oder ein Socket)",
     u"Not a regular file (a device, a pipe or a socket)"},
    {TextId::ProblemBusy, u"Die Datei wird von einem anderen Programm benutzt", u"The file is in use by another program"},
    {TextId::ProblemChanged, u"Die Datei wurde w\u00e4hrend der \u00dcbertragung ver\u00e4ndert",
     u"The file was changed during the transfer"},
    {TextId::ProblemNotWholeBlocks,
     u"Die Datei hat keine g\u00fcltige L\u00e4nge (ein Vielfaches von 512 Bytes) und wurde nicht gesendet",
     u"The file has no valid length (a whole number of 512-byte blocks) and was not sent"},

    {TextId::AutoLoadFilter, u"HCS Software (*.sx) |*.sx|Alle Dateien (*.*) |*.*||",
     u"HCS Software (*.sx) |*.sx|All Files (*.*) |*.*||"},
    {TextId::SingleFilter, u"HCS Software (*.sx) |*.sx||", u"HCS Software (*.sx) |*.sx||"},
    {TextId::DefaultExtension, u"sx", u"sx"},

    {TextId::WindowTitle, u"Bootloader-Software: ZL | ZL-Version", u"Bootloader-Software: ZL | ZL-Version"},
    {TextId::StopButton, u"Stop", u"Stop"},
    {TextId::StartButton, u"Start", u"Start"},
};

struct Table {
    std::array<const Row*, static_cast<size_t>(TextId::Count_)> rows{};
    Table() {
        for (const Row& r : kRows) rows[static_cast<size_t>(r.key)] = &r;
    }
};

}  // namespace

const std::u16string& Text(TextId key, bool english) {
    static const Table table;
    static const std::u16string empty;
    const Row* r = table.rows[static_cast<size_t>(key)];
    if (!r) return empty;
    return english ? r->en : r->de;
}

}  // namespace zl
