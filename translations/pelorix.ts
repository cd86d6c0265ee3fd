<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1">
<context>
    <name>FileDialog</name>
    <message>
        <source>Audio files (%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>All files (*)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>pelorix::ui::CodeLists</name>
    <message>
        <source>Not a valid ISRC.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>More codes than rows.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No row matches.</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Matches %n rows in different folders; give the path.</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>Line %1 gives this recording %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Up to date</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Kept</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No code</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>pelorix::ui::DropZone</name>
    <message>
        <source>Drop audio files or folders here</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>PELORIX writes an ISRC code into the files&apos; metadata without touching the audio.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add Files…</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>pelorix::ui::FileTableModel</name>
    <message>
        <source>Writing…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Has ISRC</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No ISRC</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ready</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Replaces %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Up to date</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not a valid ISRC</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Used twice in this list</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot read this file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 (not %2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The file holds %1 audio, though its name says %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>CC-XXX-YY-NNNNN</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Format</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Current ISRC</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>New ISRC</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Status</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Places in this file hold different codes; writing puts the new code in all of them.
%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Title</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Artist</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Duration</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>pelorix::ui::ImportDialog</name>
    <message>
        <source>New ISRC</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Import Codes</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%n row(s) take a New ISRC from %1.</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>The list holds codes only: they go to the rows in the order shown.</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%n line(s) of the list give no code.</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n row(s) get no code.</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>Nothing is written to the files until you write them.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Line</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>In the list</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Code</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Row</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Result</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rows that get no code:</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Set %n Code(s)</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>New ISRC; the file carries %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Codes from the column:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Find the files by:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Path</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>File name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Title (tag, or the name without its track number)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Track and disc (tags, or the number and the folder)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>pelorix::ui::LedgerCodesModel</name>
    <message>
        <source>ISRC</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Title</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Artist</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Last Written</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>pelorix::ui::LedgerView</name>
    <message>
        <source>Code Ledger</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No code has been recorded yet: there is no ledger at %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Search:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Code, title or file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search the ledger</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Shows the codes whose code, title or file holds the text</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Codes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select a code to see its history.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Time</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Action</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Previous ISRC</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>User</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Host</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>History of the code</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Export…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save every code with its recording and files as CSV or JSON</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%n code(s) in %1. This view changes nothing.</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n code(s) found in %1.</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>History of %1:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Removed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Replaced by %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Found</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Being written</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Written</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export the Code Ledger</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ISRC ledger.csv</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>CSV files (*.csv);;JSON lines (*.json);;All files (*)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 could not be saved: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Exported %n code(s) to %1.</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
</context>
<context>
    <name>pelorix::ui::MainWindow</name>
    <message>
        <source>No files</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%n file(s)</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>Writing…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Write ISRC (%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Write ISRC</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Add Files…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Reload</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Sequence…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ctrl+Shift+N</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Remove IS&amp;RC…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ctrl+Shift+Del</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Undo</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Redo</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ctrl+Shift+Z</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cu&amp;t</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Paste</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Delete New ISRC</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select &amp;All</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add Files…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sequence…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Remove ISRC</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clear</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stop</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keep a backup copy of each file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Writing %1 of %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reading %1 of %2 files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose audio files (%1) or folders</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The audio is not touched. Other tags stay as they are.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: %2 → %3</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Replace the ISRC of %n file(s)?</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>These files already carry a different code:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Replace</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Write Only the Others</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Write the new ISRC of %n file(s) before closing?</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>If you don&apos;t, the new codes are lost.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Write</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show in File Manager</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Remove from list</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Remove ISRC from file…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Import Codes…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ctrl+I</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Export List…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export Re&amp;port…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Import Codes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Lists of codes (*.csv *.tsv *.txt);;All files (*)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add the audio files first; the list&apos;s codes go to them.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is too large for a list of codes.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 cannot be read: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>CSV files (*.csv);;All files (*)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 could not be saved: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export List</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ISRC list.csv</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export Report</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ISRC report.csv</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add an axml Carrier to WAV Files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Also store the code in the EBU Core XML (axml) of a WAV that has none</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stop after the files being written</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Code &amp;Ledger…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show Only Rows That Need &amp;Attention</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ctrl+Shift+A</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Next Problem</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Title Column</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A&amp;rtist Column</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>D&amp;uration Column</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 logo</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Progress</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 of %2 shown</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No row needs attention.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Undo %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Redo %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Import of %n Code(s)</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Saved the list of %n file(s) to %1.</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Saved the report of %n file(s) to %1.</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>None of the selected files has an ISRC.</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>and %n more</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>This cannot be undone; the codes are listed in the report.</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Remove the ISRC from %n file(s)?</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>row %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>rows %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>The clipboard holds %n code(s), but %1 rows are selected.</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>Pasting fills the selected rows in order and leaves the other codes out.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pasting fills the first selected rows in order; the others keep their New ISRC.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Paste Into Selected Rows</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Paste of %n Code(s)</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>Pasted no code</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Pasted %n code(s) into %1</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>1 line was a header</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%n line(s) left over</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n selected row(s) kept their code</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Deletion of %n New Code(s)</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
</context>
<context>
    <name>pelorix::ui::Model</name>
    <message>
        <source>An unexpected error occurred.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No supported audio files found (%1).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not readable audio any more.</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) added.</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Skipped %n file(s) that are not readable audio: </source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>None of the selected files has an ISRC.</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Removed the ISRC from %n file(s).</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>Removed %1, failed %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Wrote %n ISRC code(s).</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>Wrote %1, failed %2. See the Status column.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stopped after %1 of %2 files.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not written: the file carries %1 now.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not written: the file carries no code now.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Written</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Removed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>There are no files to assign.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>That is not a valid ISRC start. Use 2 letters, 3 letters or digits, 2 digits and a number from 0 to %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The sequence would go past %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Written, was %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not written</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stopped before this file.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The file carries %1 now.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The file carries no code now.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Replaced %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Removal of %n Row(s) from the List</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>Clear</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Typing</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Change of %n Code(s)</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Sequence of %n Code(s)</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) already held what was asked and stayed as they were.</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>Up to date</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Removed %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>pelorix::ui::NewCodeDelegate</name>
    <message>
        <source>New ISRC of %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>2 letters, 3 letters or digits, 2 digits of the year and a 5-digit number</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>pelorix::ui::SequenceDialog</name>
    <message>
        <source>overflow</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Assign a sequence of ISRC codes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Codes are given to the files in the order of the list. The five-digit number goes up by one for each file.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Country</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FI</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>2 letters (ISO country code)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Must be 2 letters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Registrant</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ABC</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>3 characters, given by your ISRC agency</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Must be 3 letters or digits</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Year</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>26</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>2 digits</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Must be 2 digits</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;First number</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Must be a number from %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Apply to</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Skip files that already have a code</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Assign</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>All %n file(s)</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n selected file(s)</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
</context>
</TS>
