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
</context>
</TS>
