<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
<context>
    <name>TDemoForm</name>
    <message>
        <source>veze6 binding demo</source>
        <translation>veze6-Bindungsdemo</translation>
    </message>
    <message>
        <source>Signals</source>
        <translation>Signale</translation>
    </message>
    <message>
        <source>Booleans</source>
        <translation>Wahrheitswerte</translation>
    </message>
    <message>
        <source>Every change</source>
        <translation>Jede Änderung</translation>
    </message>
    <message>
        <source>Ramp.Int4, one line per change</source>
        <translation>Ramp.Int4, eine Zeile je Änderung</translation>
    </message>
    <message>
        <source>Random.String, one entry per change</source>
        <translation>Random.String, ein Eintrag je Änderung</translation>
    </message>
</context>
<context>
    <name>TGuiApplicationHandler</name>
    <message>
        <source>&amp;All</source>
        <translation>&amp;Alle</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
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
</context>
<context>
    <name>TItemForm</name>
    <message>
        <source>veze6 demo: %1</source>
        <translation>veze6-Demo: %1</translation>
    </message>
    <message>
        <source>the server has no branch &apos;%1&apos;</source>
        <translation>der Server hat keinen Zweig &apos;%1&apos;</translation>
    </message>
    <message>
        <source>browsing found no item to show</source>
        <translation>beim Durchsuchen wurde kein Item zum Anzeigen gefunden</translation>
    </message>
    <message>
        <source>Server: %1</source>
        <translation>Server: %1</translation>
    </message>
</context>
<context>
    <name>TqGUIItemDlg</name>
    <message>
        <source>OPC Items</source>
        <translation>OPC-Items</translation>
    </message>
    <message>
        <source>Set property </source>
        <translation>Eigenschaft </translation>
    </message>
    <message>
        <source>for Control</source>
        <translation>setzen für Steuerelement</translation>
    </message>
    <message>
        <source>default</source>
        <translation>Standard</translation>
    </message>
    <message>
        <source>Groups</source>
        <translation>Gruppen</translation>
    </message>
    <message>
        <source>OPC Groups</source>
        <translation>OPC-Gruppen</translation>
    </message>
    <message>
        <source>OPC Item</source>
        <translation>OPC-Item</translation>
    </message>
    <message>
        <source>Active</source>
        <translation>Aktiv</translation>
    </message>
</context>
<context>
    <name>TqGUISelectForm</name>
    <message>
        <source>OPC to GUI</source>
        <translation>OPC zu GUI</translation>
    </message>
    <message>
        <source>Control</source>
        <translation>Steuerelement</translation>
    </message>
    <message>
        <source>Propname</source>
        <translation>Eigenschaft</translation>
    </message>
    <message>
        <source>OPC Group</source>
        <translation>OPC-Gruppe</translation>
    </message>
    <message>
        <source>OPC Item</source>
        <translation>OPC-Item</translation>
    </message>
    <message>
        <source>Make doubleclick to assign</source>
        <translation>Doppelklick zum Zuordnen</translation>
    </message>
    <message>
        <source>Make right mouseclick to reset</source>
        <translation>Rechtsklick zum Zurücksetzen</translation>
    </message>
    <message>
        <source>first assign property opcserver</source>
        <translation>zuerst die Eigenschaft OPCServer zuweisen</translation>
    </message>
    <message>
        <source>only possible on Forms</source>
        <translation>nur auf Formularen möglich</translation>
    </message>
</context>
<context>
    <name>TqOPCDesignerWidgets</name>
    <message>
        <source>OPC server component</source>
        <translation>OPC-Server-Komponente</translation>
    </message>
    <message>
        <source>OPC server enumeration component</source>
        <translation>OPC-Server-Auflistungskomponente</translation>
    </message>
    <message>
        <source>OPC binding component</source>
        <translation>OPC-Bindungskomponente</translation>
    </message>
</context>
<context>
    <name>TqOPCDlgBrowse</name>
    <message>
        <source>EMPTY</source>
        <translation>EMPTY</translation>
    </message>
    <message>
        <source>NULL</source>
        <translation>NULL</translation>
    </message>
    <message>
        <source>I2</source>
        <translation>I2</translation>
    </message>
    <message>
        <source>I4</source>
        <translation>I4</translation>
    </message>
    <message>
        <source>R4</source>
        <translation>R4</translation>
    </message>
    <message>
        <source>R8</source>
        <translation>R8</translation>
    </message>
    <message>
        <source>CY</source>
        <translation>CY</translation>
    </message>
    <message>
        <source>DATE</source>
        <translation>DATE</translation>
    </message>
    <message>
        <source>BSTR</source>
        <translation>BSTR</translation>
    </message>
    <message>
        <source>DISPATCH</source>
        <translation>DISPATCH</translation>
    </message>
    <message>
        <source>ERROR</source>
        <translation>ERROR</translation>
    </message>
    <message>
        <source>BOOL</source>
        <translation>BOOL</translation>
    </message>
    <message>
        <source>VARIANT</source>
        <translation>VARIANT</translation>
    </message>
    <message>
        <source>UNKNOWN</source>
        <translation>UNKNOWN</translation>
    </message>
    <message>
        <source>DECIMAL</source>
        <translation>DECIMAL</translation>
    </message>
    <message>
        <source>undef</source>
        <translation>undef.</translation>
    </message>
    <message>
        <source>I1</source>
        <translation>I1</translation>
    </message>
    <message>
        <source>UI1</source>
        <translation>UI1</translation>
    </message>
    <message>
        <source>UI2</source>
        <translation>UI2</translation>
    </message>
    <message>
        <source>UI4</source>
        <translation>UI4</translation>
    </message>
    <message>
        <source>I8</source>
        <translation>I8</translation>
    </message>
    <message>
        <source>UI8</source>
        <translation>UI8</translation>
    </message>
    <message>
        <source>INT</source>
        <translation>INT</translation>
    </message>
    <message>
        <source>UINT</source>
        <translation>UINT</translation>
    </message>
    <message>
        <source>VOID</source>
        <translation>VOID</translation>
    </message>
    <message>
        <source>HRESULT</source>
        <translation>HRESULT</translation>
    </message>
    <message>
        <source>PTR</source>
        <translation>PTR</translation>
    </message>
    <message>
        <source>SAFEARRAY</source>
        <translation>SAFEARRAY</translation>
    </message>
    <message>
        <source>CARRAY</source>
        <translation>CARRAY</translation>
    </message>
    <message>
        <source>USERDEFINED</source>
        <translation>USERDEFINED</translation>
    </message>
    <message>
        <source>LPSTR</source>
        <translation>LPSTR</translation>
    </message>
    <message>
        <source>LPWSTR</source>
        <translation>LPWSTR</translation>
    </message>
    <message>
        <source>Open OPC Item</source>
        <translation>OPC-Item öffnen</translation>
    </message>
    <message>
        <source>Path</source>
        <translation>Pfad</translation>
    </message>
    <message>
        <source>Filter</source>
        <translation>Filter</translation>
    </message>
    <message>
        <source>Writable</source>
        <translation>Schreibbar</translation>
    </message>
    <message>
        <source>&amp;Open</source>
        <translation>Ö&amp;ffnen</translation>
    </message>
    <message>
        <source>Datatyp</source>
        <translation>Datentyp</translation>
    </message>
    <message>
        <source>Readable</source>
        <translation>Lesbar</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Abbrechen</translation>
    </message>
    <message>
        <source>root</source>
        <translation>Wurzel</translation>
    </message>
</context>
<context>
    <name>TqOPCDlgEditGroup</name>
    <message>
        <source>&apos;%1&apos; is not a valid integer value</source>
        <translation>&apos;%1&apos; ist keine gültige ganze Zahl</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not a valid floating point value</source>
        <translation>&apos;%1&apos; ist keine gültige Gleitkommazahl</translation>
    </message>
    <message>
        <source>Edit Group</source>
        <translation>Gruppe bearbeiten</translation>
    </message>
    <message>
        <source>Groupname</source>
        <translation>Gruppenname</translation>
    </message>
    <message>
        <source>UpdateRate</source>
        <translation>Aktualisierungsrate</translation>
    </message>
    <message>
        <source>DeadBand</source>
        <translation>Totband</translation>
    </message>
    <message>
        <source>Active</source>
        <translation>Aktiv</translation>
    </message>
    <message>
        <source>&amp;Ok</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Abbrechen</translation>
    </message>
</context>
<context>
    <name>TqOPCDlgExplorer</name>
    <message>
        <source>bad</source>
        <translation>schlecht</translation>
    </message>
    <message>
        <source>good</source>
        <translation>gut</translation>
    </message>
    <message>
        <source>uncertain</source>
        <translation>unsicher</translation>
    </message>
    <message>
        <source>not connected</source>
        <translation>nicht verbunden</translation>
    </message>
    <message>
        <source>first select OPC Server</source>
        <translation>zuerst einen OPC-Server auswählen</translation>
    </message>
    <message>
        <source>active</source>
        <translation>aktiv</translation>
    </message>
    <message>
        <source>not active</source>
        <translation>nicht aktiv</translation>
    </message>
    <message>
        <source>Disconnect from Server</source>
        <translation>Vom Server getrennt</translation>
    </message>
    <message>
        <source>First select Group</source>
        <translation>Zuerst eine Gruppe auswählen</translation>
    </message>
    <message>
        <source>ERROR</source>
        <translation>FEHLER</translation>
    </message>
    <message>
        <source>Write value</source>
        <translation>Wert schreiben</translation>
    </message>
    <message>
        <source>Value for %1:</source>
        <translation>Wert für %1:</translation>
    </message>
    <message>
        <source>OPC Inspector</source>
        <translation>OPC-Inspektor</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Select OPC Server</source>
        <translation>OPC-Server auswählen</translation>
    </message>
    <message>
        <source>select OPC Server with OPCENUM.EXE</source>
        <translation>OPC-Server mit OPCENUM.EXE auswählen</translation>
    </message>
    <message>
        <source>Connect to server</source>
        <translation>Mit Server verbinden</translation>
    </message>
    <message>
        <source>Disconnect from server</source>
        <translation>Vom Server trennen</translation>
    </message>
    <message>
        <source>click right mousekey to edit groups</source>
        <translation>Rechtsklick zum Bearbeiten der Gruppen</translation>
    </message>
    <message>
        <source>ItemId</source>
        <translation>Item-ID</translation>
    </message>
    <message>
        <source>Accesspath</source>
        <translation>Zugriffspfad</translation>
    </message>
    <message>
        <source>Active</source>
        <translation>Aktiv</translation>
    </message>
    <message>
        <source>Value</source>
        <translation>Wert</translation>
    </message>
    <message>
        <source>Quality</source>
        <translation>Qualität</translation>
    </message>
    <message>
        <source>Timestamp</source>
        <translation>Zeitstempel</translation>
    </message>
    <message>
        <source>click right mousekey to edit Items</source>
        <translation>Rechtsklick zum Bearbeiten der Items</translation>
    </message>
    <message>
        <source>Add Group...</source>
        <translation>Gruppe hinzufügen...</translation>
    </message>
    <message>
        <source>Remove Group</source>
        <translation>Gruppe entfernen</translation>
    </message>
    <message>
        <source>Remove all Groups</source>
        <translation>Alle Gruppen entfernen</translation>
    </message>
    <message>
        <source>Properties...</source>
        <translation>Eigenschaften...</translation>
    </message>
    <message>
        <source>Add Item..</source>
        <translation>Item hinzufügen..</translation>
    </message>
    <message>
        <source>Remove Item</source>
        <translation>Item entfernen</translation>
    </message>
    <message>
        <source>Remove all Items</source>
        <translation>Alle Items entfernen</translation>
    </message>
    <message>
        <source>Write value...</source>
        <translation>Wert schreiben...</translation>
    </message>
    <message>
        <source>Groupstate</source>
        <translation>Gruppenstatus</translation>
    </message>
    <message>
        <source>Updaterate</source>
        <translation>Aktualisierungsrate</translation>
    </message>
    <message>
        <source>Deadband</source>
        <translation>Totband</translation>
    </message>
    <message>
        <source>Severstate</source>
        <translation>Serverstatus</translation>
    </message>
    <message>
        <source>State</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Start Time</source>
        <translation>Startzeit</translation>
    </message>
    <message>
        <source>Last Update</source>
        <translation>Letzte Aktualisierung</translation>
    </message>
</context>
<context>
    <name>TqOPCTaskMenu</name>
    <message>
        <source>OPC Inspector...</source>
        <translation>OPC-Inspektor...</translation>
    </message>
    <message>
        <source>Choose Server...</source>
        <translation>Server auswählen...</translation>
    </message>
    <message>
        <source>OPC to GUI...</source>
        <translation>OPC zu GUI...</translation>
    </message>
</context>
<context>
    <name>TqopcServerBrowseDlg</name>
    <message>
        <source>Select OPC Server</source>
        <translation>OPC-Server auswählen</translation>
    </message>
    <message>
        <source>Computername</source>
        <translation>Computername</translation>
    </message>
    <message>
        <source>&amp;Search</source>
        <translation>&amp;Suchen</translation>
    </message>
    <message>
        <source>Servername</source>
        <translation>Servername</translation>
    </message>
    <message>
        <source>&amp;Ok</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>Server Class ID</source>
        <translation>Server-Klassen-ID</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Abbrechen</translation>
    </message>
    <message>
        <source>no OPC Server found on selected Computer</source>
        <translation>kein OPC-Server auf dem gewählten Computer gefunden</translation>
    </message>
    <message>
        <source>DA Servers 1.0</source>
        <translation>DA-Server 1.0</translation>
    </message>
    <message>
        <source>DA Servers 2.0</source>
        <translation>DA-Server 2.0</translation>
    </message>
    <message>
        <source>AE Servers 1.0</source>
        <translation>AE-Server 1.0</translation>
    </message>
</context>
<context>
    <name>qopc</name>
    <message>
        <source>Connects to a server and walks its address space: branches end in &apos;/&apos;, leaves show their item ids. With --flat (or on a flat server) every item id is listed instead.</source>
        <translation>Verbindet mit einem Server und durchläuft seinen Adressraum: Zweige enden auf &apos;/&apos;, Blätter zeigen ihre Item-IDs. Mit --flat (oder bei einem flachen Server) wird stattdessen jede Item-ID aufgelistet.</translation>
    </message>
    <message>
        <source>List every item id (below --branch) instead of the tree.</source>
        <translation>Jede Item-ID (unterhalb von --branch) auflisten statt des Baums.</translation>
    </message>
    <message>
        <source>OPC name filter for items (*, ?, #, [...]).</source>
        <translation>OPC-Namensfilter für Items (*, ?, #, [...]).</translation>
    </message>
    <message>
        <source>Only items that read as this data type (R8, I4, BSTR... or a code).</source>
        <translation>Nur Items, die sich als dieser Datentyp lesen lassen (R8, I4, BSTR... oder ein Code).</translation>
    </message>
    <message>
        <source>Only items with these access rights: r, w or rw.</source>
        <translation>Nur Items mit diesen Zugriffsrechten: r, w oder rw.</translation>
    </message>
    <message>
        <source>Start at this dotted branch path.</source>
        <translation>Bei diesem Zweigpfad (mit Punkten getrennt) beginnen.</translation>
    </message>
    <message>
        <source>unknown data type &apos;%1&apos;</source>
        <translation>unbekannter Datentyp &apos;%1&apos;</translation>
    </message>
    <message>
        <source>--rights takes r, w or rw, not &apos;%1&apos;</source>
        <translation>--rights erwartet r, w oder rw, nicht &apos;%1&apos;</translation>
    </message>
    <message>
        <source>the server&apos;s address space is flat; it has no branch &apos;%1&apos;</source>
        <translation>der Adressraum des Servers ist flach; er hat keinen Zweig &apos;%1&apos;</translation>
    </message>
    <message>
        <source>no branch &apos;%1&apos;</source>
        <translation>kein Zweig &apos;%1&apos;</translation>
    </message>
    <message>
        <source>connect, print the server&apos;s status, disconnect</source>
        <translation>verbinden, den Status des Servers ausgeben, trennen</translation>
    </message>
    <message>
        <source>add a group with items (or validate them), print each result</source>
        <translation>eine Gruppe mit Items anlegen (oder sie prüfen), jedes Ergebnis ausgeben</translation>
    </message>
    <message>
        <source>connect, add groups and items from the command line, save to FILE</source>
        <translation>verbinden, Gruppen und Items von der Befehlszeile anlegen, in FILE speichern</translation>
    </message>
    <message>
        <source>load FILE, connect, show the groups and items with their results</source>
        <translation>FILE laden, verbinden, die Gruppen und Items mit ihren Ergebnissen zeigen</translation>
    </message>
    <message>
        <source>list the OPC servers of a computer by category</source>
        <translation>die OPC-Server eines Computers nach Kategorie auflisten</translation>
    </message>
    <message>
        <source>walk a server&apos;s address space (or list it flat)</source>
        <translation>den Adressraum eines Servers durchlaufen (oder flach auflisten)</translation>
    </message>
    <message>
        <source>list an item&apos;s properties and their values</source>
        <translation>die Eigenschaften eines Items mit ihren Werten auflisten</translation>
    </message>
    <message>
        <source>read items once from the server&apos;s cache or the device</source>
        <translation>Items einmal aus dem Cache des Servers oder vom Gerät lesen</translation>
    </message>
    <message>
        <source>write values to items, synchronously or asynchronously</source>
        <translation>Werte in Items schreiben, synchron oder asynchron</translation>
    </message>
    <message>
        <source>subscribe to items and print each data change</source>
        <translation>Items abonnieren und jede Datenänderung ausgeben</translation>
    </message>
    <message>
        <source>walk an OPC UA server&apos;s address space (URL)</source>
        <translation>den Adressraum eines OPC-UA-Servers durchlaufen (URL)</translation>
    </message>
    <message>
        <source>read OPC UA nodes once (URL NODEID...)</source>
        <translation>OPC-UA-Knoten einmal lesen (URL NODEID...)</translation>
    </message>
    <message>
        <source>usage: qopc &lt;command&gt; [options]</source>
        <translation>Aufruf: qopc &lt;Befehl&gt; [Optionen]</translation>
    </message>
    <message>
        <source>commands:</source>
        <translation>Befehle:</translation>
    </message>
    <message>
        <source>common options:</source>
        <translation>gemeinsame Optionen:</translation>
    </message>
    <message>
        <source>a ProgID, a class id in braces or an opc.tcp:// URL (default: %1)</source>
        <translation>eine ProgID, eine Klassen-ID in geschweiften Klammern oder eine opc.tcp://-URL (Standard: %1)</translation>
    </message>
    <message>
        <source>text (default), csv or json (watch: one JSON object a line)</source>
        <translation>text (Standard), csv oder json (watch: ein JSON-Objekt je Zeile)</translation>
    </message>
    <message>
        <source>run &apos;qopc &lt;command&gt; --help&apos; for a command&apos;s own options.</source>
        <translation>&apos;qopc &lt;Befehl&gt; --help&apos; zeigt die Optionen eines Befehls.</translation>
    </message>
    <message>
        <source>exit status:</source>
        <translation>Rückgabewert:</translation>
    </message>
    <message>
        <source>success</source>
        <translation>Erfolg</translation>
    </message>
    <message>
        <source>failure: no connection, a failed server call, or a failed item</source>
        <translation>Fehlschlag: keine Verbindung, ein fehlgeschlagener Serveraufruf oder ein fehlgeschlagenes Item</translation>
    </message>
    <message>
        <source>usage error: unknown command or option, missing or malformed argument</source>
        <translation>Aufruffehler: unbekannter Befehl oder unbekannte Option, fehlendes oder fehlerhaftes Argument</translation>
    </message>
    <message>
        <source>unknown command &apos;%1&apos;</source>
        <translation>unbekannter Befehl &apos;%1&apos;</translation>
    </message>
    <message>
        <source>--rate needs milliseconds, not &apos;%1&apos;</source>
        <translation>--rate erwartet Millisekunden, nicht &apos;%1&apos;</translation>
    </message>
    <message>
        <source>--item %1 needs a --group before it</source>
        <translation>--item %1 braucht davor eine --group</translation>
    </message>
    <message>
        <source>give exactly one FILE</source>
        <translation>genau eine FILE angeben</translation>
    </message>
    <message>
        <source>Connects, configures groups and items from the command line and saves the configuration.
--rate and --item belong to the --group before them; a --rate before any group sets the
default rate of new groups.</source>
        <translation>Verbindet, legt Gruppen und Items von der Befehlszeile an und speichert die Konfiguration.
--rate und --item gehören zur --group davor; ein --rate vor jeder Gruppe setzt die
Standardrate neuer Gruppen.</translation>
    </message>
    <message>
        <source>Adds a group.</source>
        <translation>Fügt eine Gruppe hinzu.</translation>
    </message>
    <message>
        <source>The update rate of the group (milliseconds).</source>
        <translation>Die Aktualisierungsrate der Gruppe (Millisekunden).</translation>
    </message>
    <message>
        <source>Adds an item to the group.</source>
        <translation>Fügt der Gruppe ein Item hinzu.</translation>
    </message>
    <message>
        <source>The file to write (replaced whole).</source>
        <translation>Die zu schreibende Datei (wird ganz ersetzt).</translation>
    </message>
    <message>
        <source>saved to %1</source>
        <translation>gespeichert in %1</translation>
    </message>
    <message>
        <source>Loads a saved configuration, connects, and shows the groups and items with their results.</source>
        <translation>Lädt eine gespeicherte Konfiguration, verbindet und zeigt die Gruppen und Items mit ihren Ergebnissen.</translation>
    </message>
    <message>
        <source>A file written by &apos;qopc save&apos; or SaveToFile.</source>
        <translation>Eine von &apos;qopc save&apos; oder SaveToFile geschriebene Datei.</translation>
    </message>
    <message>
        <source>A ProgID, a class id in braces or an opc.tcp:// URL.</source>
        <translation>Eine ProgID, eine Klassen-ID in geschweiften Klammern oder eine opc.tcp://-URL.</translation>
    </message>
    <message>
        <source>cannot connect to %1: %2</source>
        <translation>Verbindung zu %1 nicht möglich: %2</translation>
    </message>
    <message>
        <source>cannot connect to %1 on %2: %3</source>
        <translation>Verbindung zu %1 auf %2 nicht möglich: %3</translation>
    </message>
    <message>
        <source>Connects, adds the items and reads them once from the server&apos;s cache (or the device),
printing each item&apos;s value, quality and time stamp, or its error.
Exits with 1 when any item failed.</source>
        <translation>Verbindet, fügt die Items hinzu und liest sie einmal aus dem Cache des Servers (oder vom Gerät)
und gibt für jedes Item Wert, Qualität und Zeitstempel oder seinen Fehler aus.
Endet mit 1, wenn ein Item fehlschlug.</translation>
    </message>
    <message>
        <source>Read from the device instead of the server&apos;s cache.</source>
        <translation>Vom Gerät lesen statt aus dem Cache des Servers.</translation>
    </message>
    <message>
        <source>The ids of the items.</source>
        <translation>Die IDs der Items.</translation>
    </message>
    <message>
        <source>no item ids given</source>
        <translation>keine Item-IDs angegeben</translation>
    </message>
    <message>
        <source>the server offers no synchronous reads</source>
        <translation>der Server bietet kein synchrones Lesen</translation>
    </message>
    <message>
        <source>Connects, adds the items and writes the values in one call, printing each item&apos;s
outcome. A value is converted to the item&apos;s canonical type when it reads as one.
Exits with 1 when any item failed.</source>
        <translation>Verbindet, fügt die Items hinzu und schreibt die Werte in einem Aufruf; gibt für jedes
Item das Ergebnis aus. Ein Wert wird in den kanonischen Typ des Items gewandelt, wenn er
sich so lesen lässt. Endet mit 1, wenn ein Item fehlschlug.</translation>
    </message>
    <message>
        <source>Write asynchronously and wait for the server&apos;s completion.</source>
        <translation>Asynchron schreiben und auf die Bestätigung des Servers warten.</translation>
    </message>
    <message>
        <source>How long to wait for an asynchronous completion.</source>
        <translation>Wie lange auf eine asynchrone Bestätigung gewartet wird.</translation>
    </message>
    <message>
        <source>An item id and the value to write.</source>
        <translation>Eine Item-ID und der zu schreibende Wert.</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not ITEM=VALUE</source>
        <translation>&apos;%1&apos; ist nicht ITEM=VALUE</translation>
    </message>
    <message>
        <source>no ITEM=VALUE given</source>
        <translation>kein ITEM=VALUE angegeben</translation>
    </message>
    <message>
        <source>the timeout must be a number of milliseconds</source>
        <translation>die Wartezeit muss eine Zahl von Millisekunden sein</translation>
    </message>
    <message>
        <source>the server offers no synchronous writes</source>
        <translation>der Server bietet kein synchrones Schreiben</translation>
    </message>
    <message>
        <source>the server offers no asynchronous writes</source>
        <translation>der Server bietet kein asynchrones Schreiben</translation>
    </message>
    <message>
        <source>Connects, subscribes to the items at the update rate and prints every data change
(time stamp, item, value, quality) until the count of changes or the time is reached,
or for ever when neither is given.</source>
        <translation>Verbindet, abonniert die Items mit der Aktualisierungsrate und gibt jede Datenänderung aus
(Zeitstempel, Item, Wert, Qualität), bis die Anzahl der Änderungen oder die Zeit erreicht ist,
oder ohne Ende, wenn keins von beiden angegeben ist.</translation>
    </message>
    <message>
        <source>The group&apos;s requested update rate.</source>
        <translation>Die angeforderte Aktualisierungsrate der Gruppe.</translation>
    </message>
    <message>
        <source>Stop after this many item changes.</source>
        <translation>Nach so vielen Item-Änderungen aufhören.</translation>
    </message>
    <message>
        <source>Stop after this many seconds.</source>
        <translation>Nach so vielen Sekunden aufhören.</translation>
    </message>
    <message>
        <source>the update rate must be a number of milliseconds</source>
        <translation>die Aktualisierungsrate muss eine Zahl von Millisekunden sein</translation>
    </message>
    <message>
        <source>the count must be a whole number</source>
        <translation>die Anzahl muss eine ganze Zahl sein</translation>
    </message>
    <message>
        <source>the time must be a number of seconds</source>
        <translation>die Zeit muss eine Zahl von Sekunden sein</translation>
    </message>
    <message>
        <source>no item to watch</source>
        <translation>kein Item zu beobachten</translation>
    </message>
    <message>
        <source>Connects, adds a group with the items in one batch (or only validates them) and prints
each item&apos;s server handle, canonical type and access rights, or its error.
Exits with 1 when any item failed.</source>
        <translation>Verbindet, legt eine Gruppe mit den Items in einem Stapel an (oder prüft sie nur) und gibt
für jedes Item Server-Handle, kanonischen Typ und Zugriffsrechte oder seinen Fehler aus.
Endet mit 1, wenn ein Item fehlschlug.</translation>
    </message>
    <message>
        <source>The group&apos;s name.</source>
        <translation>Der Name der Gruppe.</translation>
    </message>
    <message>
        <source>The items&apos; access path.</source>
        <translation>Der Zugriffspfad der Items.</translation>
    </message>
    <message>
        <source>Validate the items instead of adding them.</source>
        <translation>Die Items prüfen statt sie hinzuzufügen.</translation>
    </message>
    <message>
        <source>the group name must not be blank</source>
        <translation>der Gruppenname darf nicht leer sein</translation>
    </message>
    <message>
        <source>Output: text (default), csv or json.</source>
        <translation>Ausgabe: text (Standard), csv oder json.</translation>
    </message>
    <message>
        <source>--format takes text, csv or json, not &apos;%1&apos;</source>
        <translation>--format erwartet text, csv oder json, nicht &apos;%1&apos;</translation>
    </message>
    <message>
        <source>Connects to a server and lists the properties of an item: id, description, data type and current value.</source>
        <translation>Verbindet mit einem Server und listet die Eigenschaften eines Items auf: ID, Beschreibung, Datentyp und aktueller Wert.</translation>
    </message>
    <message>
        <source>The item id.</source>
        <translation>Die Item-ID.</translation>
    </message>
    <message>
        <source>give exactly one item id</source>
        <translation>genau eine Item-ID angeben</translation>
    </message>
    <message>
        <source>%1 offers no item properties</source>
        <translation>%1 bietet keine Item-Eigenschaften</translation>
    </message>
    <message>
        <source>Lists the OPC servers registered on a computer, asking its server list object for the categories DA 1.0, DA 2.0 and Alarms and Events 1.0.</source>
        <translation>Listet die auf einem Computer registrierten OPC-Server auf und fragt dazu dessen Serverlistenobjekt nach den Kategorien DA 1.0, DA 2.0 und Alarms and Events 1.0.</translation>
    </message>
    <message>
        <source>Only these categories: da10, da20, ae10 (comma-separated).</source>
        <translation>Nur diese Kategorien: da10, da20, ae10 (durch Kommas getrennt).</translation>
    </message>
    <message>
        <source>unknown category in &apos;%1&apos; (use da10, da20, ae10)</source>
        <translation>unbekannte Kategorie in &apos;%1&apos; (erlaubt: da10, da20, ae10)</translation>
    </message>
    <message>
        <source>cannot list the servers of this computer: %1</source>
        <translation>die Server dieses Computers können nicht aufgelistet werden: %1</translation>
    </message>
    <message>
        <source>cannot list the servers of %1: %2</source>
        <translation>die Server von %1 können nicht aufgelistet werden: %2</translation>
    </message>
    <message>
        <source>no OPC servers found</source>
        <translation>keine OPC-Server gefunden</translation>
    </message>
    <message>
        <source>Connects to a server and prints its status.</source>
        <translation>Verbindet mit einem Server und gibt seinen Status aus.</translation>
    </message>
    <message>
        <source>cannot read the status of %1: %2</source>
        <translation>der Status von %1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>POLICY[:MODE], e.g. Basic256Sha256:SignAndEncrypt (default None).</source>
        <translation>POLICY[:MODE], z. B. Basic256Sha256:SignAndEncrypt (Standard None).</translation>
    </message>
    <message>
        <source>Log on as NAME; the password is asked for, or read from --password-file.</source>
        <translation>Als NAME anmelden; das Passwort wird abgefragt oder aus --password-file gelesen.</translation>
    </message>
    <message>
        <source>Read the password from the first line of FILE.</source>
        <translation>Das Passwort aus der ersten Zeile von FILE lesen.</translation>
    </message>
    <message>
        <source>The certificate folder (own/, trusted/, rejected/).</source>
        <translation>Der Zertifikatsordner (own/, trusted/, rejected/).</translation>
    </message>
    <message>
        <source>Milliseconds each request may take (default 10000).</source>
        <translation>Millisekunden, die jede Anfrage dauern darf (Standard 10000).</translation>
    </message>
    <message>
        <source>--security takes POLICY[:MODE]</source>
        <translation>--security erwartet POLICY[:MODE]</translation>
    </message>
    <message>
        <source>unknown security mode &apos;%1&apos; (Sign, SignAndEncrypt or None)</source>
        <translation>unbekannter Sicherheitsmodus &apos;%1&apos; (Sign, SignAndEncrypt oder None)</translation>
    </message>
    <message>
        <source>--timeout takes a positive number of milliseconds</source>
        <translation>--timeout erwartet eine positive Zahl von Millisekunden</translation>
    </message>
    <message>
        <source>cannot read %1: %2</source>
        <translation>%1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>no terminal to ask for the password: use --password-file</source>
        <translation>kein Terminal für die Passwortabfrage: --password-file verwenden</translation>
    </message>
    <message>
        <source>Walks an OPC UA server&apos;s address space.</source>
        <translation>Durchläuft den Adressraum eines OPC-UA-Servers.</translation>
    </message>
    <message>
        <source>Where to start (default i=85, the Objects folder).</source>
        <translation>Wo begonnen wird (Standard i=85, der Ordner Objects).</translation>
    </message>
    <message>
        <source>How many levels to walk (default 1).</source>
        <translation>Wie viele Ebenen durchlaufen werden (Standard 1).</translation>
    </message>
    <message>
        <source>opc.tcp://host:port/path</source>
        <translation>opc.tcp://host:port/path</translation>
    </message>
    <message>
        <source>give one URL</source>
        <translation>eine URL angeben</translation>
    </message>
    <message>
        <source>bad --node or --depth</source>
        <translation>ungültiges --node oder --depth</translation>
    </message>
    <message>
        <source>Reads values from an OPC UA server once.</source>
        <translation>Liest Werte einmal von einem OPC-UA-Server.</translation>
    </message>
    <message>
        <source>e.g. ns=2;s=Boiler.Temperature or i=2258</source>
        <translation>z. B. ns=2;s=Boiler.Temperature oder i=2258</translation>
    </message>
    <message>
        <source>give a URL and at least one node id</source>
        <translation>eine URL und mindestens eine Knoten-ID angeben</translation>
    </message>
    <message>
        <source>not a node id: %1</source>
        <translation>keine Knoten-ID: %1</translation>
    </message>
    <message>
        <source>read failed: %1</source>
        <translation>Lesen fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>the computer the server runs on, host or host:port, reached
                     through its qopcd (default: this one)</source>
        <translation>der Computer, auf dem der Server läuft, Host oder Host:Port, erreicht
                     über seinen qopcd (Standard: dieser)</translation>
    </message>
    <message>
        <source>The computer the server runs on: host or host:port (its qopcd; TLS when ~/.config/veze6/remote/ca.crt exists).</source>
        <translation>Der Computer, auf dem der Server läuft: Host oder Host:Port (sein qopcd; TLS, wenn ~/.config/veze6/remote/ca.crt existiert).</translation>
    </message>
    <message>
        <source>The computer to search: host or host:port (default: this one).</source>
        <translation>Der zu durchsuchende Computer: Host oder Host:Port (Standard: dieser).</translation>
    </message>
</context>
<context>
    <name>qopc-demo</name>
    <message>
        <source>Widgets bound to items of the veze6 simulation server.</source>
        <translation>Steuerelemente, gebunden an Items des veze6-Simulationsservers.</translation>
    </message>
    <message>
        <source>Save the window to &lt;file&gt; (PNG) once values have arrived, then exit.</source>
        <translation>Das Fenster nach &lt;file&gt; (PNG) speichern, sobald Werte eingetroffen sind, dann beenden.</translation>
    </message>
    <message>
        <source>Show items of &lt;server&gt;: a ProgID, a class id or an opc.tcp:// URL (default: the simulation server).</source>
        <translation>Items von &lt;server&gt; anzeigen: eine ProgID, eine Klassen-ID oder eine opc.tcp://-URL (Standard: der Simulationsserver).</translation>
    </message>
    <message>
        <source>The item ids to show, separated by commas (the option may be repeated).</source>
        <translation>Die anzuzeigenden Item-IDs, durch Kommas getrennt (die Option darf wiederholt werden).</translation>
    </message>
    <message>
        <source>Show the first items found at and below &lt;branch&gt; (a dotted path or a branch&apos;s item id; default: the root).</source>
        <translation>Die ersten Items an und unter &lt;branch&gt; anzeigen (ein Pfad mit Punkten oder die Item-ID eines Zweigs; Standard: die Wurzel).</translation>
    </message>
    <message>
        <source>How many browsed items to show (default 12).</source>
        <translation>Wie viele gefundene Items angezeigt werden (Standard 12).</translation>
    </message>
</context>
<context>
    <name>qopc-inspector</name>
    <message>
        <source>The OPC Inspector: connect to an OPC server, watch its status and edit groups and items.</source>
        <translation>Der OPC-Inspektor: mit einem OPC-Server verbinden, seinen Status beobachten und Gruppen und Items bearbeiten.</translation>
    </message>
    <message>
        <source>A saved configuration to load first.</source>
        <translation>Eine gespeicherte Konfiguration, die zuerst geladen wird.</translation>
    </message>
    <message>
        <source>Save the configuration to &lt;file&gt; when the window is closed.</source>
        <translation>Die Konfiguration beim Schließen des Fensters nach &lt;file&gt; speichern.</translation>
    </message>
    <message>
        <source>Connect to the simulation server, save the window to &lt;file&gt; (PNG) once the status is shown, exit.</source>
        <translation>Mit dem Simulationsserver verbinden, das Fenster nach &lt;file&gt; (PNG) speichern, sobald der Status angezeigt wird, beenden.</translation>
    </message>
    <message>
        <source>cannot load</source>
        <translation>Laden nicht möglich</translation>
    </message>
    <message>
        <source>cannot connect</source>
        <translation>Verbinden nicht möglich</translation>
    </message>
    <message>
        <source>cannot save</source>
        <translation>Speichern nicht möglich</translation>
    </message>
</context>
</TS>
