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
</TS>
