<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>pelorix::ui::CodeLists</name>
    <message numerus="yes">
        <source>Matches %n rows in different folders; give the path.</source>
        <translation>
            <numerusform>Matches %n rows in different folders; give the path.</numerusform>
            <numerusform>Matches %n rows in different folders; give the path.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>pelorix::ui::ImportDialog</name>
    <message numerus="yes">
        <source>%n row(s) take a New ISRC from %1.</source>
        <translation>
            <numerusform>%n row takes a New ISRC from %1.</numerusform>
            <numerusform>%n rows take a New ISRC from %1.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n line(s) of the list give no code.</source>
        <translation>
            <numerusform>%n line of the list gives no code.</numerusform>
            <numerusform>%n lines of the list give no code.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n row(s) get no code.</source>
        <translation>
            <numerusform>%n row gets no code.</numerusform>
            <numerusform>%n rows get no code.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Set %n Code(s)</source>
        <translation>
            <numerusform>Set %n Code</numerusform>
            <numerusform>Set %n Codes</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>pelorix::ui::LedgerView</name>
    <message numerus="yes">
        <source>%n code(s) in %1. This view changes nothing.</source>
        <translation>
            <numerusform>%n code in %1. This view changes nothing.</numerusform>
            <numerusform>%n codes in %1. This view changes nothing.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n code(s) found in %1.</source>
        <translation>
            <numerusform>%n code found in %1.</numerusform>
            <numerusform>%n codes found in %1.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Exported %n code(s) to %1.</source>
        <translation>
            <numerusform>Exported %n code to %1.</numerusform>
            <numerusform>Exported %n codes to %1.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>pelorix::ui::MainWindow</name>
    <message numerus="yes">
        <source>Checking %n file(s) with the code ledger…</source>
        <translation>
            <numerusform>Checking %n file with the code ledger…</numerusform>
            <numerusform>Checking %n files with the code ledger…</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The code ledger refused the code of %n file(s).</source>
        <translation>
            <numerusform>The code ledger refused the code of %n file.</numerusform>
            <numerusform>The code ledger refused the codes of %n files.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Saved the list of %n file(s) to %1.</source>
        <translation>
            <numerusform>Saved the list of %n file to %1.</numerusform>
            <numerusform>Saved the list of %n files to %1.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Saved the report of %n file(s) to %1.</source>
        <translation>
            <numerusform>Saved the report of %n file to %1.</numerusform>
            <numerusform>Saved the report of %n files to %1.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Deletion of %n New Code(s)</source>
        <translation>
            <numerusform>Deletion of %n New Code</numerusform>
            <numerusform>Deletion of %n New Codes</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Import of %n Code(s)</source>
        <translation>
            <numerusform>Import of %n Code</numerusform>
            <numerusform>Import of %n Codes</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>and %n more</source>
        <translation>
            <numerusform>and %n more</numerusform>
            <numerusform>and %n more</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Remove the ISRC from %n file(s)?</source>
        <translation>
            <numerusform>Remove the ISRC from %n file?</numerusform>
            <numerusform>Remove the ISRC from %n files?</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n selected row(s) kept their code</source>
        <translation>
            <numerusform>%n selected row kept its code</numerusform>
            <numerusform>%n selected rows kept their code</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n line(s) left over</source>
        <translation>
            <numerusform>%n line left over</numerusform>
            <numerusform>%n lines left over</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Pasted %n code(s) into %1</source>
        <translation>
            <numerusform>Pasted %n code into %1</numerusform>
            <numerusform>Pasted %n codes into %1</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Paste of %n Code(s)</source>
        <translation>
            <numerusform>Paste of %n Code</numerusform>
            <numerusform>Paste of %n Codes</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The clipboard holds %n code(s), but %1 rows are selected.</source>
        <translation>
            <numerusform>The clipboard holds %n code, but %1 rows are selected.</numerusform>
            <numerusform>The clipboard holds %n codes, but %1 rows are selected.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s)</source>
        <translation>
            <numerusform>%n file</numerusform>
            <numerusform>%n files</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Replace the ISRC of %n file(s)?</source>
        <translation>
            <numerusform>Replace the ISRC of %n file?</numerusform>
            <numerusform>Replace the ISRC of %n files?</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Write the new ISRC of %n file(s) before closing?</source>
        <translation>
            <numerusform>Write the new ISRC of %n file before closing?</numerusform>
            <numerusform>Write the new ISRCs of %n files before closing?</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>pelorix::ui::Model</name>
    <message numerus="yes">
        <source>Sequence of %n Code(s)</source>
        <translation>
            <numerusform>Sequence of %n Code</numerusform>
            <numerusform>Sequence of %n Codes</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The code ledger refused %n file(s): see the Status column.</source>
        <translation>
            <numerusform>The code ledger refused %n file: see the Status column.</numerusform>
            <numerusform>The code ledger refused %n files: see the Status column.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Removal of %n Row(s) from the List</source>
        <translation>
            <numerusform>Removal of %n Row from the List</numerusform>
            <numerusform>Removal of %n Rows from the List</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Change of %n Code(s)</source>
        <translation>
            <numerusform>Change of %n Code</numerusform>
            <numerusform>Change of %n Codes</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) added.</source>
        <translation>
            <numerusform>%n file added.</numerusform>
            <numerusform>%n files added.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Skipped %n file(s) that are not readable audio: </source>
        <translation>
            <numerusform>Skipped %n file that is not readable audio: </numerusform>
            <numerusform>Skipped %n files that are not readable audio: </numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Removed the ISRC from %n file(s).</source>
        <translation>
            <numerusform>Removed the ISRC from %n file.</numerusform>
            <numerusform>Removed the ISRC from %n files.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Wrote %n ISRC code(s).</source>
        <translation>
            <numerusform>Wrote %n ISRC code.</numerusform>
            <numerusform>Wrote %n ISRC codes.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) already held what was asked and stayed as they were.</source>
        <translation>
            <numerusform>%n file already held what was asked and stayed as it was.</numerusform>
            <numerusform>%n files already held what was asked and stayed as they were.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>pelorix::ui::SequenceDialog</name>
    <message numerus="yes">
        <source>All %n file(s)</source>
        <translation>
            <numerusform>All %n file</numerusform>
            <numerusform>All %n files</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n selected file(s)</source>
        <translation>
            <numerusform>%n selected file</numerusform>
            <numerusform>%n selected files</numerusform>
        </translation>
    </message>
</context>
</TS>
