<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="el_GR">
<context>
    <name>GUIManager</name>
    <message>
        <source>Exiting</source>
        <translation>Τερματισμός εφαρμογής</translation>
    </message>
    <message>
        <source>Initializing</source>
        <translation>Εκκίνηση</translation>
    </message>
    <message>
        <source>Please Wait</source>
        <translation>Παρακαλώ περιμένετε</translation>
    </message>
    <message>
        <source>Rebooting</source>
        <translation>Επανεκκίνηση</translation>
    </message>
    <message>
        <source>Shutting down</source>
        <translation>Τερματισμός λειτουργίας</translation>
    </message>
</context>
</TS>
