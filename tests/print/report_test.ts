<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="xx">
<context>
    <name>ReportPrinter</name>
    <message>
        <source>CLUB: </source>
        <translation>VEREIN: </translation>
    </message>
</context>
<context>
    <name>CommonResource</name>
    <message>
        <source>dd/MM/yyyy hh:mm:ss</source>
        <translation>yyyy-MM-dd hh.mm.ss</translation>
    </message>
</context>
</TS>
