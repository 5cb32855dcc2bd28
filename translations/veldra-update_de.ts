<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AboutForm</name>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Germany</source>
        <translation>Deutschland</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Schließen</translation>
    </message>
</context>
<context>
    <name>Catalogue</name>
    <message>
        <source>N/A</source>
        <translation>k. A.</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>Unbekannt</translation>
    </message>
</context>
<context>
    <name>FWUpdateForm</name>
    <message>
        <source>Update firmware</source>
        <translation>Firmware aktualisieren</translation>
    </message>
    <message>
        <source>Update next &amp;device</source>
        <translation>&amp;Nächstes Gerät</translation>
    </message>
    <message>
        <source>&lt; &amp;Prev</source>
        <translation>&lt; &amp;Zurück</translation>
    </message>
    <message>
        <source>&amp;Next &gt;</source>
        <translation>&amp;Weiter &gt;</translation>
    </message>
    <message>
        <source>C&amp;lose</source>
        <translation>&amp;Schließen</translation>
    </message>
</context>
<context>
    <name>HistoryForm</name>
    <message>
        <source>Update history</source>
        <translation>Update-Verlauf</translation>
    </message>
    <message>
        <source>S&amp;ince:</source>
        <translation>S&amp;eit:</translation>
    </message>
    <message>
        <source>YYYY-MM-DD</source>
        <translation>JJJJ-MM-TT</translation>
    </message>
    <message>
        <source>Updates started from this day (UTC) or time (YYYY-MM-DDTHH:MM) on</source>
        <translation>Updates, die ab diesem Tag (UTC) oder Zeitpunkt (JJJJ-MM-TTTHH:MM) begonnen haben</translation>
    </message>
    <message>
        <source>Se&amp;nsor ID:</source>
        <translation>Se&amp;nsor-ID:</translation>
    </message>
    <message>
        <source>&amp;Port:</source>
        <translation>&amp;Port:</translation>
    </message>
    <message>
        <source>Res&amp;ult:</source>
        <translation>E&amp;rgebnis:</translation>
    </message>
    <message>
        <source>Start (UTC)</source>
        <translation>Beginn (UTC)</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Sensor</source>
        <translation>Sensor</translation>
    </message>
    <message>
        <source>Version before</source>
        <translation>Version vorher</translation>
    </message>
    <message>
        <source>Version in file</source>
        <translation>Version in der Datei</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Result</source>
        <translation>Ergebnis</translation>
    </message>
    <message>
        <source>Reason</source>
        <translation>Grund</translation>
    </message>
    <message>
        <source>User</source>
        <translation>Benutzer</translation>
    </message>
    <message>
        <source>Source</source>
        <translation>Quelle</translation>
    </message>
    <message>
        <source>&amp;Refresh</source>
        <translation>&amp;Aktualisieren</translation>
    </message>
    <message>
        <source>&amp;Export CSV...</source>
        <translation>CSV e&amp;xportieren...</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Schließen</translation>
    </message>
</context>
<context>
    <name>MainForm</name>
    <message>
        <source>Update firmware</source>
        <translation>Firmware-Update</translation>
    </message>
    <message>
        <source>Click Update to upload a new firmware</source>
        <translation>Mit „Update“ eine neue Firmware übertragen</translation>
    </message>
    <message>
        <source>&amp;Update</source>
        <translation>&amp;Update</translation>
    </message>
    <message>
        <source>Sensor setup</source>
        <translation>Sensor einrichten</translation>
    </message>
    <message>
        <source>Click Setup to configure sensor parameters</source>
        <translation>Mit „Einrichten“ die Sensorparameter einstellen</translation>
    </message>
    <message>
        <source>&amp;Setup</source>
        <translation>&amp;Einrichten</translation>
    </message>
    <message>
        <source>&amp;About</source>
        <translation>&amp;Info</translation>
    </message>
    <message>
        <source>E&amp;xit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>Production station: update every sensor that is plugged in</source>
        <translation>Fertigungsstation: jeden angeschlossenen Sensor aktualisieren</translation>
    </message>
    <message>
        <source>Every firmware update on file: when, which sensor, which file, the result</source>
        <translation>Jedes aufgezeichnete Firmware-Update: wann, welcher Sensor, welche Datei, mit welchem Ergebnis</translation>
    </message>
    <message>
        <source>&amp;History</source>
        <translation>&amp;Verlauf</translation>
    </message>
    <message>
        <source>S&amp;tation</source>
        <translation>S&amp;tation</translation>
    </message>
</context>
<context>
    <name>MsgBox</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Unknown error</source>
        <translation>Unbekannter Fehler</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Bestätigen</translation>
    </message>
    <message>
        <source>&amp;Yes</source>
        <translation>&amp;Ja</translation>
    </message>
    <message>
        <source>&amp;No</source>
        <translation>&amp;Nein</translation>
    </message>
    <message>
        <source>Unknown error (exception of type %1)</source>
        <translation>Unbekannter Fehler (Ausnahme vom Typ %1)</translation>
    </message>
</context>
<context>
    <name>PortCombo</name>
    <message>
        <source>Virtual port (%1)</source>
        <translation>Virtueller Port (%1)</translation>
    </message>
    <message>
        <source>Serial port</source>
        <translation>Serieller Port</translation>
    </message>
    <message>
        <source>serial</source>
        <comment>a built-in serial port, known only by its driver</comment>
        <translation>Serieller Port</translation>
    </message>
</context>
<context>
    <name>StationForm</name>
    <message>
        <source>Production station</source>
        <translation>Fertigungsstation</translation>
    </message>
    <message>
        <source>&amp;Firmware file:</source>
        <translation>&amp;Firmware-Datei:</translation>
    </message>
    <message>
        <source>&amp;Browse...</source>
        <translation>&amp;Durchsuchen...</translation>
    </message>
    <message>
        <source>&amp;Also update sensors whose firmware is newer than the file&apos;s</source>
        <translation>A&amp;uch Sensoren aktualisieren, deren Firmware neuer ist als die der Datei</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>State</source>
        <translation>Zustand</translation>
    </message>
    <message>
        <source>Sensor</source>
        <translation>Sensor</translation>
    </message>
    <message>
        <source>Version</source>
        <translation>Version</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Fortschritt</translation>
    </message>
    <message>
        <source>Result</source>
        <translation>Ergebnis</translation>
    </message>
    <message>
        <source>&amp;Start</source>
        <translation>S&amp;tarten</translation>
    </message>
    <message>
        <source>S&amp;top</source>
        <translation>&amp;Anhalten</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Schließen</translation>
    </message>
</context>
<context>
    <name>TAboutForm</name>
    <message>
        <source>Settings: %1</source>
        <translation>Einstellungen: %1</translation>
    </message>
</context>
<context>
    <name>TCommPage</name>
    <message>
        <source>&amp;Address</source>
        <translation>&amp;Adresse</translation>
    </message>
    <message>
        <source>Register #</source>
        <translation>Register-Nr.</translation>
    </message>
    <message>
        <source>Value</source>
        <translation>Wert</translation>
    </message>
    <message>
        <source>Ba&amp;ud rate</source>
        <translation>Ba&amp;udrate</translation>
    </message>
    <message>
        <source>Parity, &amp;data, stop bits</source>
        <translation>Parität, &amp;Daten-, Stoppbits</translation>
    </message>
    <message>
        <source>&amp;Read</source>
        <translation>&amp;Lesen</translation>
    </message>
    <message>
        <source>&amp;Write</source>
        <translation>&amp;Schreiben</translation>
    </message>
    <message>
        <source>Addr&amp;ess</source>
        <translation>Adr&amp;esse</translation>
    </message>
    <message>
        <source>Baud rate values</source>
        <translation>Werte der Baudrate</translation>
    </message>
    <message>
        <source>Parity, data, stop bits values</source>
        <translation>Werte für Parität, Daten-, Stoppbits</translation>
    </message>
    <message>
        <source>Address values</source>
        <translation>Werte der Adresse</translation>
    </message>
    <message>
        <source>Values known from the settings file; picking one puts it into the value box</source>
        <translation>Aus der Einstellungsdatei bekannte Werte; der gewählte kommt in das Wertfeld</translation>
    </message>
    <message>
        <source>Sensor %1: register numbers and values from the settings file</source>
        <translation>Sensor %1: Registernummern und Werte aus der Einstellungsdatei</translation>
    </message>
    <message>
        <source>%1 (not in the list)</source>
        <translation>%1 (nicht in der Liste)</translation>
    </message>
    <message>
        <source>Choose a value</source>
        <translation>Wert wählen</translation>
    </message>
</context>
<context>
    <name>TConnectPage</name>
    <message>
        <source>Please specify the COM port and click the &quot;Connect&quot; button</source>
        <translation>Bitte den COM-Port wählen und auf „Verbinden“ klicken</translation>
    </message>
    <message>
        <source>COM port</source>
        <translation>COM-Port</translation>
    </message>
    <message>
        <source>&amp;Connect</source>
        <translation>&amp;Verbinden</translation>
    </message>
    <message>
        <source> Sensor </source>
        <translation> Sensor </translation>
    </message>
    <message>
        <source>ID:</source>
        <translation>ID:</translation>
    </message>
    <message>
        <source>N/A</source>
        <translation>k. A.</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>Version:</translation>
    </message>
    <message>
        <source>CO&amp;M port</source>
        <translation>COM-&amp;Port</translation>
    </message>
    <message>
        <source>Reload port list</source>
        <translation>Portliste neu laden</translation>
    </message>
    <message>
        <source>The serial port or network port the sensor is connected to</source>
        <translation>Der serielle oder Netzwerk-Port, an dem der Sensor angeschlossen ist</translation>
    </message>
</context>
<context>
    <name>TDevSetupForm</name>
    <message>
        <source>Setup</source>
        <translation>Sensor-Einrichtung</translation>
    </message>
    <message>
        <source>COM port</source>
        <translation>COM-Port</translation>
    </message>
    <message>
        <source>Reload port list</source>
        <translation>Portliste neu laden</translation>
    </message>
    <message>
        <source>&amp;Baud rate</source>
        <translation>&amp;Baudrate</translation>
    </message>
    <message>
        <source>Parit&amp;y</source>
        <translation>Par&amp;ität</translation>
    </message>
    <message>
        <source>Sto&amp;p bits</source>
        <translation>S&amp;toppbits</translation>
    </message>
    <message>
        <source>&amp;Timeout [ms]</source>
        <translation>&amp;Zeitlimit [ms]</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Keine</translation>
    </message>
    <message>
        <source>Even</source>
        <translation>Gerade</translation>
    </message>
    <message>
        <source>Odd</source>
        <translation>Ungerade</translation>
    </message>
    <message>
        <source>Scan for sensors</source>
        <translation>Sensorsuche</translation>
    </message>
    <message>
        <source>Comm setup</source>
        <translation>Kommunikation</translation>
    </message>
    <message>
        <source>Regs check/update</source>
        <translation>Register</translation>
    </message>
    <message>
        <source>C&amp;lose</source>
        <translation>S&amp;chließen</translation>
    </message>
    <message>
        <source>CO&amp;M port</source>
        <translation>COM-&amp;Port</translation>
    </message>
    <message>
        <source>Found at %1. Use these line settings for the connection?</source>
        <translation>Gefunden bei %1. Diese Leitungseinstellungen für die Verbindung übernehmen?</translation>
    </message>
    <message>
        <source>Watch</source>
        <translation>Beobachten</translation>
    </message>
    <message>
        <source>The watch list cannot be used:</source>
        <translation>Die Beobachtungsliste ist nicht verwendbar:</translation>
    </message>
    <message>
        <source>The log file %1 cannot be written. Choose another file with &quot;Log to CSV...&quot;.</source>
        <translation>Die Protokolldatei %1 kann nicht geschrieben werden. Wählen Sie mit „CSV-Protokoll...“ eine andere Datei.</translation>
    </message>
    <message>
        <source>Writing the log file %1 failed: it is not complete.</source>
        <translation>Das Schreiben der Protokolldatei %1 ist fehlgeschlagen: sie ist unvollständig.</translation>
    </message>
</context>
<context>
    <name>TFWUpdateForm</name>
    <message>
        <source>Firmware</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>&amp;Update</source>
        <translation>&amp;Update</translation>
    </message>
    <message>
        <source>&amp;Next &gt;</source>
        <translation>&amp;Weiter &gt;</translation>
    </message>
    <message>
        <source>The sensor has %1; the file holds %2.</source>
        <translation>Der Sensor hat %1, die Datei enthält %2.</translation>
    </message>
    <message>
        <source>Open firmware file</source>
        <translation>Firmware-Datei öffnen</translation>
    </message>
    <message>
        <source>Sensor: %1
Version: %2 → %3
File: %4
Packets: %5 sent, %6 repeated, in %7 s</source>
        <translation>Sensor: %1
Version: %2 → %3
Datei: %4
Pakete: %5 gesendet, %6 wiederholt, in %7 s</translation>
    </message>
    <message>
        <source>The record of this update could not be written:</source>
        <translation>Der Eintrag zu diesem Update konnte nicht geschrieben werden:</translation>
    </message>
    <message>
        <source>The update itself is not affected. Check the records file (RECORDS= in the settings file).</source>
        <translation>Das Update selbst ist davon nicht betroffen. Bitte die Verlaufsdatei prüfen (RECORDS= in der Einstellungsdatei).</translation>
    </message>
</context>
<context>
    <name>TFilePage</name>
    <message>
        <source>Please load a firmware file</source>
        <translation>Bitte eine Firmware-Datei laden</translation>
    </message>
    <message>
        <source>Load &amp;file</source>
        <translation>&amp;Datei laden</translation>
    </message>
    <message>
        <source> File </source>
        <translation> Datei </translation>
    </message>
    <message>
        <source>ID:</source>
        <translation>ID:</translation>
    </message>
    <message>
        <source>N/A</source>
        <translation>k. A.</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>Version:</translation>
    </message>
    <message>
        <source>Status:</source>
        <translation>Status:</translation>
    </message>
    <message>
        <source>Loaded</source>
        <translation>Geladen</translation>
    </message>
</context>
<context>
    <name>THistoryForm</name>
    <message>
        <source>Export update history</source>
        <translation>Update-Verlauf exportieren</translation>
    </message>
    <message>
        <source>CSV files</source>
        <translation>CSV-Dateien</translation>
    </message>
    <message>
        <source>ok</source>
        <translation>ok</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>fehlgeschlagen</translation>
    </message>
    <message>
        <source>skipped</source>
        <translation>übersprungen</translation>
    </message>
    <message>
        <source>stopped</source>
        <translation>abgebrochen</translation>
    </message>
    <message>
        <source>All results</source>
        <translation>Alle Ergebnisse</translation>
    </message>
    <message>
        <source>All ports</source>
        <translation>Alle Ports</translation>
    </message>
    <message>
        <source>The date is not understood: use YYYY-MM-DD or YYYY-MM-DDTHH:MM.</source>
        <translation>Das Datum ist nicht lesbar: bitte JJJJ-MM-TT oder JJJJ-MM-TTTHH:MM angeben.</translation>
    </message>
    <message>
        <source>The sensor ID is not a number from 0 to 65535.</source>
        <translation>Die Sensor-ID ist keine Zahl von 0 bis 65535.</translation>
    </message>
    <message>
        <source>Recording is off in the settings file (RECORDS=off).</source>
        <translation>Die Aufzeichnung ist in der Einstellungsdatei abgeschaltet (RECORDS=off).</translation>
    </message>
    <message>
        <source>The records file %1 cannot be read: %2</source>
        <translation>Die Verlaufsdatei %1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>No records yet (%1).</source>
        <translation>Noch keine Einträge (%1).</translation>
    </message>
    <message>
        <source>No records match.</source>
        <translation>Keine passenden Einträge.</translation>
    </message>
    <message>
        <source>Only the newest records are read.</source>
        <translation>Nur die neuesten Einträge werden gelesen.</translation>
    </message>
    <message>
        <source>The history could not be saved to %1: %2</source>
        <translation>Der Verlauf konnte nicht in %1 gespeichert werden: %2</translation>
    </message>
    <message>
        <source>Records shown: %1 of %2 in %3.</source>
        <translation>Angezeigte Einträge: %1 von %2 in %3.</translation>
    </message>
    <message>
        <source>Damaged lines skipped: %1.</source>
        <translation>Übersprungene beschädigte Zeilen: %1.</translation>
    </message>
</context>
<context>
    <name>TJobText</name>
    <message>
        <source>COM port not selected</source>
        <translation>Kein COM-Port ausgewählt</translation>
    </message>
    <message>
        <source>Unable to find sensor or sensor is not in bootloader mode</source>
        <translation>Sensor nicht gefunden oder nicht im Bootloader-Modus</translation>
    </message>
    <message>
        <source>Sensor connection not established</source>
        <translation>Keine Verbindung zum Sensor</translation>
    </message>
    <message>
        <source>Firmware file not loaded</source>
        <translation>Keine Firmware-Datei geladen</translation>
    </message>
    <message>
        <source>Invalid COD file</source>
        <translation>Ungültige COD-Datei</translation>
    </message>
    <message>
        <source>The selected firmware does not match the connected device</source>
        <translation>Die gewählte Firmware passt nicht zum angeschlossenen Gerät</translation>
    </message>
    <message>
        <source>The firmware version selected is older than the sensor version. Do you want to proceed with the update?</source>
        <translation>Die gewählte Firmware-Version ist älter als die Version des Sensors. Soll das Update trotzdem durchgeführt werden?</translation>
    </message>
    <message>
        <source>The firmware version selected is the same as the sensor version. Do you want to proceed with the update?</source>
        <translation>Die gewählte Firmware-Version ist dieselbe wie die des Sensors. Soll das Update trotzdem durchgeführt werden?</translation>
    </message>
    <message>
        <source>Firmware update successful</source>
        <translation>Firmware-Update erfolgreich</translation>
    </message>
    <message>
        <source>Sensor update failed</source>
        <translation>Sensor-Update fehlgeschlagen</translation>
    </message>
    <message>
        <source>Please reconnect the sensor and try again</source>
        <translation>Bitte den Sensor neu verbinden und es erneut versuchen</translation>
    </message>
    <message>
        <source>Invalid addresses</source>
        <translation>Ungültige Adressen</translation>
    </message>
    <message>
        <source>Register not specified</source>
        <translation>Kein Register angegeben</translation>
    </message>
    <message>
        <source>Value not specified</source>
        <translation>Kein Wert angegeben</translation>
    </message>
    <message>
        <source>Insufficient number of registers</source>
        <translation>Zu wenige Register</translation>
    </message>
    <message>
        <source>Error reading data.</source>
        <translation>Fehler beim Lesen der Daten.</translation>
    </message>
    <message>
        <source>Error writing data.</source>
        <translation>Fehler beim Schreiben der Daten.</translation>
    </message>
    <message>
        <source>Invalid BCD value read</source>
        <translation>Ungültiger BCD-Wert gelesen</translation>
    </message>
    <message>
        <source>Changes have been saved successfully</source>
        <translation>Die Änderungen wurden gespeichert</translation>
    </message>
    <message>
        <source>The changes will take effect after restart of the sensor.</source>
        <translation>Die Änderungen werden nach einem Neustart des Sensors wirksam.</translation>
    </message>
    <message>
        <source>The firmware file is too big to upload (%1 packets, at most %2)</source>
        <translation>Die Firmware-Datei ist zu groß für die Übertragung (%1 Pakete, höchstens %2)</translation>
    </message>
    <message>
        <source>The sensor reported the image complete after packet %1 of %2</source>
        <translation>Der Sensor meldete das Abbild nach Paket %1 von %2 als vollständig</translation>
    </message>
    <message>
        <source>The upload stopped: %1</source>
        <translation>Die Übertragung brach ab: %1</translation>
    </message>
    <message>
        <source>Value out of range (%1 to %2)</source>
        <translation>Wert außerhalb des Bereichs (%1 bis %2)</translation>
    </message>
    <message>
        <source>No answer within the time-out</source>
        <translation>Keine Antwort innerhalb des Zeitlimits</translation>
    </message>
    <message>
        <source>Damaged answer (CRC error)</source>
        <translation>Beschädigte Antwort (CRC-Fehler)</translation>
    </message>
    <message>
        <source>Wrong answer (another device address)</source>
        <translation>Falsche Antwort (andere Geräteadresse)</translation>
    </message>
    <message>
        <source>Wrong answer (another function code)</source>
        <translation>Falsche Antwort (anderer Funktionscode)</translation>
    </message>
    <message>
        <source>Wrong answer (wrong length)</source>
        <translation>Falsche Antwort (falsche Länge)</translation>
    </message>
    <message>
        <source>Wrong answer (the echo does not match)</source>
        <translation>Falsche Antwort (das Echo stimmt nicht überein)</translation>
    </message>
    <message>
        <source>Too many registers for one request</source>
        <translation>Zu viele Register für eine Anfrage</translation>
    </message>
    <message>
        <source>Modbus exception 1 (illegal function)</source>
        <translation>Modbus-Ausnahme 1 (unzulässige Funktion)</translation>
    </message>
    <message>
        <source>Modbus exception 2 (illegal data address)</source>
        <translation>Modbus-Ausnahme 2 (unzulässige Datenadresse)</translation>
    </message>
    <message>
        <source>Modbus exception 3 (illegal data value)</source>
        <translation>Modbus-Ausnahme 3 (unzulässiger Datenwert)</translation>
    </message>
    <message>
        <source>Modbus exception 4 (server device failure)</source>
        <translation>Modbus-Ausnahme 4 (Fehler im Gerät)</translation>
    </message>
    <message>
        <source>Modbus exception 5 (acknowledge)</source>
        <translation>Modbus-Ausnahme 5 (Anfrage angenommen, in Bearbeitung)</translation>
    </message>
    <message>
        <source>Modbus exception 6 (server device busy)</source>
        <translation>Modbus-Ausnahme 6 (Gerät beschäftigt)</translation>
    </message>
    <message>
        <source>Modbus exception 8 (memory parity error)</source>
        <translation>Modbus-Ausnahme 8 (Speicher-Paritätsfehler)</translation>
    </message>
    <message>
        <source>Modbus exception 10 (gateway path unavailable)</source>
        <translation>Modbus-Ausnahme 10 (Gateway-Pfad nicht verfügbar)</translation>
    </message>
    <message>
        <source>Modbus exception 11 (gateway target device failed to respond)</source>
        <translation>Modbus-Ausnahme 11 (Zielgerät hinter dem Gateway antwortet nicht)</translation>
    </message>
    <message>
        <source>Modbus exception %1</source>
        <translation>Modbus-Ausnahme %1</translation>
    </message>
    <message>
        <source>The file is too short for a firmware header</source>
        <translation>Die Datei ist zu kurz für einen Firmware-Kopf</translation>
    </message>
    <message>
        <source>The file size does not match its header</source>
        <translation>Die Dateigröße passt nicht zu ihrem Kopf</translation>
    </message>
    <message>
        <source>The header checksum is wrong</source>
        <translation>Die Prüfsumme des Kopfes ist falsch</translation>
    </message>
    <message>
        <source>Your user may not open the port %1 (permission denied).</source>
        <translation>Ihr Benutzer darf den Port %1 nicht öffnen (keine Berechtigung).</translation>
    </message>
    <message>
        <source>To get access, add your user to the &apos;%1&apos; group (sudo usermod -aG %1 $USER), then log out and in again.</source>
        <translation>Für den Zugriff nehmen Sie Ihren Benutzer in die Gruppe &apos;%1&apos; auf (sudo usermod -aG %1 $USER) und melden sich dann ab und wieder an.</translation>
    </message>
    <message>
        <source>This port belongs to the group &apos;%1&apos;: ask the administrator for access.</source>
        <translation>Dieser Port gehört der Gruppe &apos;%1&apos;: bitten Sie den Administrator um Zugriff.</translation>
    </message>
    <message>
        <source>The port %1 is in use by another program.</source>
        <translation>Der Port %1 wird von einem anderen Programm verwendet.</translation>
    </message>
    <message>
        <source>Close the program that uses it, then try again.</source>
        <translation>Beenden Sie das Programm, das ihn verwendet, und versuchen Sie es dann erneut.</translation>
    </message>
    <message>
        <source>The port %1 is not there: its adapter is disconnected.</source>
        <translation>Der Port %1 ist nicht vorhanden: sein Adapter ist nicht angeschlossen.</translation>
    </message>
    <message>
        <source>Connect the adapter, choose its port again, then try again.</source>
        <translation>Schließen Sie den Adapter an, wählen Sie seinen Port erneut und versuchen Sie es dann noch einmal.</translation>
    </message>
    <message>
        <source>The network server %1 cannot be reached.</source>
        <translation>Der Netzwerkserver %1 ist nicht erreichbar.</translation>
    </message>
    <message>
        <source>Check the server&apos;s address, that it is switched on and that the network reaches it.</source>
        <translation>Prüfen Sie die Adresse des Servers, ob er eingeschaltet ist und ob das Netzwerk ihn erreicht.</translation>
    </message>
    <message>
        <source>The network server %1 refuses the connection.</source>
        <translation>Der Netzwerkserver %1 verweigert die Verbindung.</translation>
    </message>
    <message>
        <source>Check the port number and that the server offers the serial line there.</source>
        <translation>Prüfen Sie die Portnummer und ob der Server dort die serielle Leitung anbietet.</translation>
    </message>
    <message>
        <source>The port %1 could not be opened: %2</source>
        <translation>Der Port %1 konnte nicht geöffnet werden: %2</translation>
    </message>
    <message>
        <source>The scan found nothing: the port could not be opened.</source>
        <translation>Die Suche hat nichts gefunden: der Port konnte nicht geöffnet werden.</translation>
    </message>
    <message>
        <source>The image checksum is wrong</source>
        <translation>Die Prüfsumme des Abbilds ist falsch</translation>
    </message>
    <message>
        <source>The line settings of %1 are its server&apos;s and cannot be changed from here: search on a local port or through rfc2217://.</source>
        <translation>Die Leitungseinstellungen von %1 gehören seinem Server und lassen sich von hier nicht ändern: an einem lokalen Anschluss oder über rfc2217:// suchen.</translation>
    </message>
    <message>
        <source>No device answered at any of the line settings tried.</source>
        <translation>Bei keiner der versuchten Leitungseinstellungen hat ein Gerät geantwortet.</translation>
    </message>
    <message>
        <source>The sensor already has the file&apos;s version</source>
        <translation>Der Sensor hat bereits die Version der Datei</translation>
    </message>
    <message>
        <source>The file&apos;s version is older than the sensor&apos;s</source>
        <translation>Die Version der Datei ist älter als die des Sensors</translation>
    </message>
    <message>
        <source>The station was stopped during the upload</source>
        <translation>Die Station wurde während des Uploads angehalten</translation>
    </message>
</context>
<context>
    <name>TMainForm</name>
    <message>
        <source>Are you sure you want to exit?</source>
        <translation>Möchten Sie das Programm wirklich beenden?</translation>
    </message>
    <message>
        <source>a folder, not a file</source>
        <translation>ein Ordner, keine Datei</translation>
    </message>
    <message>
        <source>not a regular file</source>
        <translation>keine gewöhnliche Datei</translation>
    </message>
    <message>
        <source>larger than %1 MiB</source>
        <translation>größer als %1 MiB</translation>
    </message>
    <message>
        <source>%1 (could not be read: %2; defaults used)</source>
        <translation>%1 (nicht lesbar: %2; Standardwerte verwendet)</translation>
    </message>
    <message>
        <source>none</source>
        <comment>no settings file</comment>
        <translation>keine</translation>
    </message>
</context>
<context>
    <name>TRegsPage</name>
    <message>
        <source>&amp;Address</source>
        <translation>&amp;Adresse</translation>
    </message>
    <message>
        <source>Re&amp;gister</source>
        <translation>&amp;Register</translation>
    </message>
    <message>
        <source>&amp;Data type</source>
        <translation>&amp;Datentyp</translation>
    </message>
    <message>
        <source>&amp;Num of regs</source>
        <translation>A&amp;nz. Reg.</translation>
    </message>
    <message>
        <source>Data &amp;order</source>
        <translation>&amp;Wortfolge</translation>
    </message>
    <message>
        <source>&amp;Value</source>
        <translation>W&amp;ert</translation>
    </message>
    <message>
        <source>&amp;Read</source>
        <translation>&amp;Lesen</translation>
    </message>
    <message>
        <source>&amp;Write</source>
        <translation>&amp;Schreiben</translation>
    </message>
    <message>
        <source>Least significant word first</source>
        <translation>Niederwertiges Wort zuerst</translation>
    </message>
    <message>
        <source>Most significant word first</source>
        <translation>Höherwertiges Wort zuerst</translation>
    </message>
</context>
<context>
    <name>TResultPage</name>
    <message>
        <source>Status:</source>
        <translation>Status:</translation>
    </message>
    <message>
        <source>Please reconnect the sensor and try again</source>
        <translation>Bitte den Sensor neu verbinden und es erneut versuchen</translation>
    </message>
</context>
<context>
    <name>TScanPage</name>
    <message>
        <source>&amp;First address</source>
        <translation>St&amp;artadresse</translation>
    </message>
    <message>
        <source>L&amp;ast address</source>
        <translation>&amp;Endadresse</translation>
    </message>
    <message>
        <source>&amp;Scan</source>
        <translation>&amp;Suchen</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>Adresse</translation>
    </message>
    <message>
        <source>Device Code</source>
        <translation>Gerätecode</translation>
    </message>
    <message>
        <source>FW Version</source>
        <translation>FW-Version</translation>
    </message>
    <message>
        <source>Scanned: 0, found: 0</source>
        <translation>Geprüft: 0, gefunden: 0</translation>
    </message>
    <message>
        <source>St&amp;op</source>
        <translation>St&amp;opp</translation>
    </message>
    <message>
        <source>Stop scan</source>
        <translation>Suche abbrechen</translation>
    </message>
    <message>
        <source>Scanned: %1, found: %2</source>
        <translation>Geprüft: %1, gefunden: %2</translation>
    </message>
    <message>
        <source>Try every usual bit rate and parity with each address: finds a sensor whose line settings are not known</source>
        <translation>Jede übliche Bitrate und Parität mit jeder Adresse versuchen: findet einen Sensor, dessen Leitungseinstellungen nicht bekannt sind</translation>
    </message>
    <message>
        <source>S&amp;earch all line settings</source>
        <translation>Alle &amp;Leitungseinstellungen durchsuchen</translation>
    </message>
    <message>
        <source>Line settings</source>
        <translation>Leitungseinstellungen</translation>
    </message>
</context>
<context>
    <name>TStationForm</name>
    <message>
        <source>waiting</source>
        <translation>wartet</translation>
    </message>
    <message>
        <source>identifying</source>
        <translation>identifiziert</translation>
    </message>
    <message>
        <source>uploading</source>
        <translation>lädt hoch</translation>
    </message>
    <message>
        <source>done</source>
        <translation>fertig</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>fehlgeschlagen</translation>
    </message>
    <message>
        <source>skipped</source>
        <translation>übersprungen</translation>
    </message>
    <message>
        <source>stopped</source>
        <translation>angehalten</translation>
    </message>
    <message>
        <source>port problem</source>
        <translation>Portproblem</translation>
    </message>
    <message>
        <source>gone</source>
        <translation>entfernt</translation>
    </message>
    <message>
        <source>Production station</source>
        <translation>Fertigungsstation</translation>
    </message>
    <message>
        <source>The update record could not be written: %1</source>
        <translation>Der Update-Eintrag konnte nicht geschrieben werden: %1</translation>
    </message>
    <message>
        <source>Updated: %1, failed: %2, skipped: %3</source>
        <translation>Aktualisiert: %1, fehlgeschlagen: %2, übersprungen: %3</translation>
    </message>
    <message>
        <source>, stopped: %1</source>
        <translation>, angehalten: %1</translation>
    </message>
</context>
<context>
    <name>TStripChart</name>
    <message>
        <source>No data</source>
        <translation>Keine Daten</translation>
    </message>
    <message>
        <source>Paused</source>
        <translation>Angehalten</translation>
    </message>
</context>
<context>
    <name>TUploadPage</name>
    <message>
        <source>Packets:</source>
        <translation>Pakete:</translation>
    </message>
    <message>
        <source>Sent:</source>
        <translation>Gesendet:</translation>
    </message>
    <message>
        <source>Failed:</source>
        <translation>Fehler:</translation>
    </message>
    <message>
        <source>Validating...</source>
        <translation>Wird geprüft...</translation>
    </message>
    <message>
        <source>Please click the &quot;Update&quot; button to upload the firmware</source>
        <translation>Bitte auf „Update“ klicken, um die Firmware zu übertragen</translation>
    </message>
    <message>
        <source>Updating...</source>
        <translation>Update läuft...</translation>
    </message>
</context>
<context>
    <name>TWatchPage</name>
    <message>
        <source>&amp;Add row</source>
        <translation>Zeile &amp;hinzufügen</translation>
    </message>
    <message>
        <source>Add a row for the register chosen on the register page</source>
        <translation>Eine Zeile für das auf der Registerseite gewählte Register hinzufügen</translation>
    </message>
    <message>
        <source>&amp;Remove row</source>
        <translation>Zeile &amp;entfernen</translation>
    </message>
    <message>
        <source>Remove the chosen row</source>
        <translation>Die gewählte Zeile entfernen</translation>
    </message>
    <message>
        <source>Loa&amp;d list...</source>
        <translation>Liste &amp;laden...</translation>
    </message>
    <message>
        <source>Load a watch list file</source>
        <translation>Eine Beobachtungsliste aus einer Datei laden</translation>
    </message>
    <message>
        <source>Sa&amp;ve list...</source>
        <translation>Liste speiche&amp;rn...</translation>
    </message>
    <message>
        <source>Save the rows as a watch list file</source>
        <translation>Die Zeilen als Beobachtungsliste speichern</translation>
    </message>
    <message>
        <source>Watch list</source>
        <translation>Beobachtungsliste</translation>
    </message>
    <message>
        <source>Chart of the watched values</source>
        <translation>Diagramm der beobachteten Werte</translation>
    </message>
    <message>
        <source>Chart spa&amp;n</source>
        <translation>Zeitspa&amp;nne</translation>
    </message>
    <message>
        <source>1 min</source>
        <translation>1 Min.</translation>
    </message>
    <message>
        <source>10 min</source>
        <translation>10 Min.</translation>
    </message>
    <message>
        <source>1 h</source>
        <translation>1 Std.</translation>
    </message>
    <message>
        <source>1 day</source>
        <translation>1 Tag</translation>
    </message>
    <message>
        <source>Pa&amp;use</source>
        <translation>&amp;Anhalten</translation>
    </message>
    <message>
        <source>Stop the chart following new values, to look back</source>
        <translation>Das Diagramm folgt keinen neuen Werten mehr, um zurückzublicken</translation>
    </message>
    <message>
        <source>E&amp;xport PNG...</source>
        <translation>PNG e&amp;xportieren...</translation>
    </message>
    <message>
        <source>Save the chart as a picture</source>
        <translation>Das Diagramm als Bild speichern</translation>
    </message>
    <message>
        <source>&amp;Interval [ms]</source>
        <translation>Inter&amp;vall [ms]</translation>
    </message>
    <message>
        <source>Time between two rounds of reads: 0 reads as fast as the line allows, else 100 ms to 1 hour</source>
        <translation>Zeit zwischen zwei Leserunden: 0 liest so schnell, wie die Leitung erlaubt, sonst 100 ms bis 1 Stunde</translation>
    </message>
    <message>
        <source>Log to &amp;CSV...</source>
        <translation>CSV-Proto&amp;koll...</translation>
    </message>
    <message>
        <source>Choose a file the next watch writes its values to, one line per round</source>
        <translation>Eine Datei wählen, in die die nächste Beobachtung ihre Werte schreibt, eine Zeile je Runde</translation>
    </message>
    <message>
        <source>No log</source>
        <translation>Kein Protokoll</translation>
    </message>
    <message>
        <source>&amp;Start</source>
        <translation>&amp;Start</translation>
    </message>
    <message>
        <source>St&amp;op</source>
        <translation>St&amp;opp</translation>
    </message>
    <message>
        <source>Load watch list</source>
        <translation>Beobachtungsliste laden</translation>
    </message>
    <message>
        <source>Save watch list</source>
        <translation>Beobachtungsliste speichern</translation>
    </message>
    <message>
        <source>Log to CSV file</source>
        <translation>In CSV-Datei protokollieren</translation>
    </message>
    <message>
        <source>Export chart as PNG</source>
        <translation>Diagramm als PNG exportieren</translation>
    </message>
    <message>
        <source>CSV files</source>
        <translation>CSV-Dateien</translation>
    </message>
    <message>
        <source>PNG pictures</source>
        <translation>PNG-Bilder</translation>
    </message>
    <message>
        <source>Watch lists</source>
        <translation>Beobachtungslisten</translation>
    </message>
    <message>
        <source>Label</source>
        <translation>Bezeichnung</translation>
    </message>
    <message>
        <source>Value</source>
        <translation>Wert</translation>
    </message>
    <message>
        <source>Min</source>
        <translation>Min.</translation>
    </message>
    <message>
        <source>Max</source>
        <translation>Max.</translation>
    </message>
    <message>
        <source>Mean</source>
        <translation>Mittel</translation>
    </message>
    <message>
        <source>Last read</source>
        <translation>Zuletzt gelesen</translation>
    </message>
    <message>
        <source>Errors</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Last error</source>
        <translation>Letzter Fehler</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>Adresse</translation>
    </message>
    <message>
        <source>Register</source>
        <translation>Register</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>Typ</translation>
    </message>
    <message>
        <source>Order</source>
        <translation>Wortfolge</translation>
    </message>
    <message>
        <source>Count</source>
        <translation>Anzahl</translation>
    </message>
    <message>
        <source>Scale</source>
        <translation>Faktor</translation>
    </message>
    <message>
        <source>Offset</source>
        <translation>Versatz</translation>
    </message>
    <message>
        <source>Unit</source>
        <translation>Einheit</translation>
    </message>
    <message>
        <source>Res&amp;ume</source>
        <translation>&amp;Weiter</translation>
    </message>
    <message>
        <source>Log: %1</source>
        <translation>Protokoll: %1</translation>
    </message>
    <message>
        <source>The watch list cannot be loaded:</source>
        <translation>Die Beobachtungsliste kann nicht geladen werden:</translation>
    </message>
    <message>
        <source>The watch list cannot be used:</source>
        <translation>Die Beobachtungsliste ist nicht verwendbar:</translation>
    </message>
    <message>
        <source>The watch list cannot be saved to %1.</source>
        <translation>Die Beobachtungsliste kann nicht in %1 gespeichert werden.</translation>
    </message>
    <message>
        <source>The picture cannot be saved to %1.</source>
        <translation>Das Bild kann nicht in %1 gespeichert werden.</translation>
    </message>
</context>
</TS>
