<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr">
<context>
    <name>ExceptionResource</name>
    <message>
        <source>Semaphore timeout!</source>
        <translation>Délai du sémaphore dépassé !</translation>
    </message>
</context>
</TS>
