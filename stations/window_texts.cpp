#include "stations/window_texts.h"

#include <array>

namespace zl::stations {

const std::u16string& WText(WinText id, bool english) {
    static const std::array<std::array<std::u16string, 2>, 29> table{{
        {u"Stationen \u2013 Bootloader-Software f\u00fcr ZL-Ger\u00e4te", u"Stations \u2013 Bootloader software for ZL devices"},
        {u"Ger\u00e4t:", u"Device:"},
        {u"Auto-Load-Datei:", u"Auto-Load file:"},
        {u"Datei w\u00e4hlen \u2026", u"Choose file \u2026"},
        {u"Station hinzuf\u00fcgen", u"Add station"},
        {u"Entfernen", u"Remove"},
        {u"Port:", u"Port:"},
        {u"(kein Port)", u"(no port)"},
        {u"Gut: %1    Fehlgeschlagen: %2", u"Good: %1    Failed: %2"},
        {u"GUT", u"PASS"},
        {u"FEHLER", u"FAIL"},
        {u"OK", u"OK"},
        {u"Abbrechen", u"Cancel"},
        {u"Noch keine Station: \u201eStation hinzuf\u00fcgen\u201c legt eine an; jede Station w\u00e4hlt ihren Port.",
         u"No station yet: \u201cAdd station\u201d creates one; each station chooses its port."},
        {u"Firmware", u"Firmware"},
        {u"Der Ger\u00e4tetyp l\u00e4sst sich erst \u00e4ndern, wenn keine Station mehr \u00fcbertr\u00e4gt oder auf eine Antwort wartet.",
         u"The device type can be changed once no station is transferring or waiting for an answer."},
        {u"Auftrag: %1    Datei: %2    SHA-256: %3 \u2026", u"Job: %1    File: %2    SHA-256: %3 \u2026"},
        {u"Gut: %1    Fehlgeschlagen: %2    Erstausbeute: %3    Letzte Stunde: %4    Median: %5 je Ger\u00e4t",
         u"Good: %1    Failed: %2    First-pass yield: %3    Last hour: %4    Median: %5 per device"},
        {u"\u2013", u"\u2013"},
        {u"Letztes Ger\u00e4t: %1 s", u"Last device: %1 s"},
        {u"Einheit:", u"Unit:"},
        {u"ID scannen oder eingeben, Enter", u"Scan or type the ID, Enter"},
        {u"%1 bereits erfolgreich geladen am %2", u"%1 already loaded successfully on %2"},
        {u"Erneut laden", u"Load again"},
        {u"\u00dcberspringen", u"Skip"},
        {u"Vor dem Vergleich mit der Datei entfernt: nicht gepr\u00fcft", u"Removed before its flash was compared: not verified"},
        {u"Auftrag nicht verwendbar", u"Job cannot be used"},
        {u"Server nicht gestartet", u"Server not started"},
        {u"Aufruf: BootloaderZL-Stations [--job AUFTRAG.zljob] [--ask-unit] [--serve ADRESSE:PORT [--serve-token DATEI]]",
         u"Usage: BootloaderZL-Stations [--job JOB.zljob] [--ask-unit] [--serve ADDRESS:PORT [--serve-token FILE]]"},
    }};
    return table[static_cast<size_t>(id)][english ? 1 : 0];
}

}  // namespace zl::stations
