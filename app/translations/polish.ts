<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pl_PL">
<context>
    <name>ConnectionManager</name>
    <message>
        <source>Channel</source>
        <translation>Adres</translation>
    </message>
    <message>
        <source>Set channel to %1</source>
        <translation>Ustawiono adres na %1</translation>
    </message>
</context>
<context>
    <name>PlayerManager</name>
    <message>
        <source>Nothing on the playlist can be played</source>
        <translation>Żadnej pozycji listy nie można odtworzyć</translation>
    </message>
    <message>
        <source>Version</source>
        <translation>Wersja</translation>
    </message>
    <message>
        <source>Config</source>
        <translation>Konfiguracja</translation>
    </message>
    <message>
        <source>Error while loading config!</source>
        <translation>Błąd podczas odczytu pliku konfiguracji!</translation>
    </message>
    <message>
        <source>Config error</source>
        <translation>Błąd konfiguracji</translation>
    </message>
    <message>
        <source>Config file doesn&apos;n exist!</source>
        <translation>Brak pliku konfiguracji!</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Play</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stop</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Volume</source>
        <translation>Głośność</translation>
    </message>
    <message>
        <source>DMX resume</source>
        <translation>Wznowienie sygnału DMX</translation>
    </message>
    <message>
        <source>No DMX signal</source>
        <translation>Brak sygnału DMX</translation>
    </message>
    <message>
        <source>USB stick</source>
        <translation>Pamięć USB</translation>
    </message>
    <message>
        <source>Cannot remove the reset file from the USB stick (write-protected?). Nothing was reset.</source>
        <translation>Nie można usunąć pliku resetu z pamięci USB (zabezpieczona przed zapisem?). Nic nie zresetowano.</translation>
    </message>
</context>
<context>
    <name>Updater</name>
    <message>
        <source>The new program cannot run on this box. Keeping the current one.</source>
        <translation>Nowy program nie może działać na tym urządzeniu. Pozostaje obecny.</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aktualizacja</translation>
    </message>
    <message>
        <source>USB stick</source>
        <translation>Pamięć USB</translation>
    </message>
    <message>
        <source>Cannot remove the file from the USB stick (write-protected?). It was not used.</source>
        <translation>Nie można usunąć pliku z pamięci USB (zabezpieczona przed zapisem?). Plik nie został użyty.</translation>
    </message>
    <message>
        <source>No update files found</source>
        <translation>Nie znaleziono plików aktualizacji</translation>
    </message>
    <message>
        <source>Update files found. Running update...</source>
        <translation>Znaleziono pliki aktualizacji. Uruchamianie aktualizacji...</translation>
    </message>
    <message>
        <source>No update control file</source>
        <translation>Brak pliku kontrolnego aktualizacji</translation>
    </message>
    <message>
        <source>Aborting update and remove update files</source>
        <translation>Aktualizacja przerwana. Usuwanie plików aktualizacji.</translation>
    </message>
    <message>
        <source>Checksums</source>
        <translation>Sumy kontrolne</translation>
    </message>
    <message>
        <source>Checksums didn&apos;t match. Abort.</source>
        <translation>Błąd zgodności sum kontrolnych. Aktualizacja przerwana.</translation>
    </message>
    <message>
        <source>Update error</source>
        <translation>Błąd aktualizacji</translation>
    </message>
    <message>
        <source>Can not open files!</source>
        <translation>Nie można otworzyć plików!</translation>
    </message>
    <message>
        <source>Data verified</source>
        <translation>Dane zweryfikowane</translation>
    </message>
    <message>
        <source>Updating please wait</source>
        <translation>Aktualizacja proszę czekać</translation>
    </message>
    <message>
        <source>Corrupted data</source>
        <translation>Błąd danych</translation>
    </message>
    <message>
        <source>Corrupted update files. Removing</source>
        <translation>Uszkodzone pliki aktualizacji. Usuwanie</translation>
    </message>
    <message>
        <source>Update success</source>
        <translation>Aktualizacja przebiegła pomyślnie</translation>
    </message>
    <message>
        <source>Rebooting</source>
        <translation>Ponowne uruchamianie systemu</translation>
    </message>
    <message>
        <source>Cannot install the new program. Keeping the current one.</source>
        <translation>Nie można zainstalować nowego programu. Pozostaje obecna wersja.</translation>
    </message>
</context>
</TS>
