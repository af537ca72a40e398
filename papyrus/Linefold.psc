Scriptname Linefold Hidden
{Line-by-line access to text files, from the Linefold SKSE plugin (Linefold.dll).}

; How to use it: LoadFile a path for reading or for writing, then take its
; lines with HasNextLine and NextLine, or write them with WriteLine, and
; CloseFile it. Every function here is global: call it as Linefold.LoadFile(...).
;
; Paths. A path is the text you pass, and it names one loaded file. The game
; keeps its strings without regard to the case of letters A to Z, so
; "Data/list.txt" and "data/list.txt" are one text and one entry to Linefold
; (in the spelling the game met first). "Data/list.txt" and "Data\list.txt"
; may be the same file on disk but are two different entries, so always
; spell a path the same way. "/" and "\" both work as separators, but in a
; Papyrus string "\" begins an escape ("\n", "\\"), so write paths with "/".
; Letters outside ASCII are taken in Windows' ANSI code page.
;
; Where files are. A relative path starts at the game's current folder,
; normally the one holding TESV.exe, so "Data/..." is the usual prefix. Your
; mod's files belong in a folder named after it inside its Data tree, e.g.
; SKSE/Plugins/MyMod/ in the mod's archive, read as
; "Data/SKSE/Plugins/MyMod/file.txt". Linefold makes no folders: writing into
; a missing folder fails, so a mod whose scripts create files ships the folder
; (ExistsFile answers true for a folder). Under Mod Organizer 2 the game sees
; one virtual Data folder: a file a script creates there lands in MO2's
; Overwrite folder, and an existing file is changed where it lies (a file a
; mod ships, in that mod's folder).
;
; A game's life. Loaded files belong to the game's process, not to a save:
; Linefold puts nothing into a save and hears nothing of loading one. After
; the player loads a save or goes back to the main menu, a file a script
; loaded before is still loaded, with its mode, window and place (NextLine
; goes on where it was), and LoadFile on it answers true and changes nothing.
; After the game is started anew, no file is loaded until a script loads it.
; To start a file afresh, CloseFile it before LoadFile (CloseFile on a path
; that is not loaded does nothing), for example in OnPlayerLoadGame on a
; script of the player's quest alias, which runs each time a save is loaded.
;
; Other mods. Every script of every mod shares one table of loaded paths: two
; mods that load the same path share one read position, and one's CloseFile
; closes it for the other. Keep your mod's files in its own folder.
;
; Case in lines. As with paths, a line may reach the file from WriteLine, or
; come from NextLine, with its letters A to Z in another case: when the game
; already holds a text equal to it but for case (any script's string), it
; hands over that spelling.
;
; What a path may name: any file your account can reach, ".." and drive
; paths such as "C:/Saves/list.txt" included, but nothing that is not a file
; on a drive. These are refused on their text, before anything is touched
; (ExistsFile answers false, LoadFile and DeleteAnyFile false with
; "  Path not allowed: <reason>! Aborting load." in the log): a path that
; begins with two separators ("\\server\share", "\\.\", "\\?\") or "\??\",
; which reach the network or devices; a ":" other than after a drive letter
; at the start (a file's hidden stream); a part that is a device name (CON,
; PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9, CONIN$, CONOUT$, in any case and
; with any extension, such as "nul.txt"); a part ending in a dot or a space
; (Windows drops them, making a second name of another file); control
; characters and < > " | ? *.
; Linefold's own files, its routine file (Data/SKSE/Plugins/
; Linefold-09200000.ini) and its log under each of its names, may be read
; but never written, made or deleted, by any name or link: LoadFile for
; writing answers false ("  Path not allowed: one of Linefold's own files!
; Aborting load."), DeleteAnyFile too ("  Delete not allowed: one of
; Linefold's own files!").
; One file, one writer: while a file is loaded under one spelling of its path,
; loading it under another ("./list.txt", "C:/Game/list.txt") answers false
; when either load is for writing. Two loads for reading may share a file.
;
; Answers. For a path that is not loaded, a call in the wrong mode (reading a
; file loaded for writing, or writing one loaded for reading), or a file that
; is no longer good after a read or write error, the functions answer false
; (NextLine: "") and change nothing and log nothing. A file that is not good
; stays loaded until you CloseFile it; load it again after that.
;
; Text files. Lines end with a line feed; a CR LF pair counts as one, and the
; byte 0x1A ends the file. Written lines end with CR LF. A line that begins
; with the BEL character (0x07) is written like any other, but reading stops
; at it as if the file ended there.
;
; Encoding. Lines pass as bytes, and the game shows them in its own code page:
; save files as ANSI in the game's language, or as UTF-8 when they hold ASCII
; only. A UTF-8 byte order mark at the start of a file is not part of its
; first line. A UTF-16 file (Notepad's "Unicode", PowerShell's output), known
; by its byte order mark, reads converted into Windows' ANSI code page; a
; character with no equivalent there reads as "?", and the log says how many
; did ("  UTF-16 text of '<path>': <n> of its characters had no equivalent
; in code page <code page> and read as '?'."). Lines appended to a UTF-16
; file go in as UTF-16. A line holding a NUL byte reaches the script up to
; the NUL, and the first such line of a load is logged
; ("  Line <n> of '<path>' holds a NUL byte: the script gets the line up to
; it.").
;
; The window. Each loaded file keeps a window of bufferSize lines in memory.
; Reading fills it from the file bufferSize lines at a time; writing collects
; lines in it and writes them out when it is full and at CloseFile.
;
; Calls from several scripts (threads) at once are safe: calls on one file
; take turns, each running whole, and calls on different files run at the
; same time. When the game quits normally, lines still waiting in the window
; of a file loaded for writing are written out then; after a crash they are
; lost, so CloseFile what you write.
;
; The debug log: Documents\My Games\Skyrim\SKSE\Linefold.log, started afresh
; each time the game starts (Linefold.log0 to Linefold.log4 while another
; program holds it open). Paths appear in it with "/" for every "\". Besides
; the lines named below, an unexpected failure inside a call (such as running
; out of memory) leaves "  Error in <function>: <reason>" and answers false, or
; "" for NextLine.

; Whether anything (a file or a folder) exists at path. Does not look at what
; is loaded. False for a missing file, a folder that does not exist, or a
; path that cannot be tested. Logs nothing.
bool Function ExistsFile(string path) Global Native

; Loads path for reading (readOnly true) or for writing (readOnly false), with
; a window of bufferSize lines. Writing with append true adds to the end of the
; file, with append false empties it at once; a missing file is created either
; way. True if path is loaded afterwards.
; If path is loaded already, answers true at once and changes nothing: the
; mode, append and bufferSize of the first load stay.
; The log shows "Loading file '<path>'..." and then one of:
;   "  File successfully loaded."            (true)
;   "  File does not exist! Aborting load."  (false: a missing file to read)
;   "  Illegal buffer size '<n>'!"           (false: bufferSize is 0 or less)
;   "  Could not allocate buffer of size '<n>'!" (false: bufferSize too large)
;   "  Could not open or create file."       (false: e.g. a folder, a missing
;                                             folder, no permission, or a
;                                             device or pipe behind a link)
;   "  Path not allowed: <reason>! Aborting load." (false: see Paths above)
;   "  File already loaded as '<key>'! Aborting load." (false: the file is
;                                             loaded under another spelling,
;                                             and one of the loads writes)
;   "  Could not test whether file exists: <reason>" (false)
;   "  Path is not valid in the system code page! Aborting load." (false)
;   "  Error reading or creating file:", "  <reason>" and an empty line (false)
bool Function LoadFile(string path, bool readOnly, bool append, int bufferSize) Global Native

; Closes a loaded file; a file loaded for writing first has its waiting lines
; written. The path is not loaded afterwards, whatever the answer.
; True, and "Closed file '<path>'." in the log, when all went well.
; False if path was not loaded (nothing logged), or if lines could not be
; written: the log then shows "  Error closing file:", "  <reason>" and an
; empty line, after the same for "  Error writing file:" when the last lines
; themselves could not be written.
bool Function CloseFile(string path) Global Native

; Deletes the file at path, loaded or not, and leaves path not loaded. A file
; loaded for writing has its waiting lines written before it is deleted.
; A path that is not loaded is first loaded for reading with a window of one
; line, so the log shows "Loading file '<path>'..." and its outcome as for
; LoadFile (for a missing file: "  File does not exist! Aborting load.").
; True only if the file was deleted. Lines that could not be written (logged
; as in CloseFile) do not keep it from being deleted.
; False for a missing file or a folder, when closing met an unexpected error
; (such as exhausted memory), or when the file could not be deleted, e.g.
; because another program holds it ("  Error deleting file:", "  <reason>"
; and an empty line).
bool Function DeleteAnyFile(string path) Global Native

; True if path is loaded, good or not. Logs nothing.
bool Function IsLoaded(string path) Global Native

; True if path is loaded and has met no read or write error. False if it is
; not loaded. Logs nothing.
bool Function IsGood(string path) Global Native

; True if path is loaded for reading, good or not. False if it is not loaded
; or is loaded for writing. Logs nothing.
bool Function IsReadOnly(string path) Global Native

; True if path is loaded for writing, good or not. False if it is not loaded
; or is loaded for reading: not simply the opposite of IsReadOnly.
; Logs nothing.
bool Function IsWriteOnly(string path) Global Native

; True if the file loaded for reading has another line to give; an empty line
; counts as a line. False at the end of the file (and at a line beginning with
; BEL), and for a path that is not loaded, loaded for writing, or not good.
; Asking again without NextLine gives the same answer. When the window is used
; up it reads the next block of lines; a read error there answers false, makes
; the file not good and logs "  Error reading file:", "  <reason>" and an
; empty line.
bool Function HasNextLine(string path) Global Native

; The next line of the file loaded for reading, without its line end, and
; moves on to the line after it. Reads the next block when the window is used
; up, as HasNextLine does. Answers "" at the end of the file and stays there
; (every later call answers "" as well), and "" for a path that is not loaded,
; loaded for writing, or not good. An empty line also answers "", so ask
; HasNextLine before each NextLine.
string Function NextLine(string path) Global Native

; Adds line to the file loaded for writing. It waits in the window and reaches
; the file when the window is full and at CloseFile. A line feed inside line
; makes two lines in the file.
; True if the line was taken. False for a path that is not loaded, loaded for
; reading, or not good, and when the window was full and writing it out failed:
; then line is not taken, the file is no longer good, and the log shows
; "  Error writing file:", "  <reason>" and an empty line. Some write errors
; only show at CloseFile, which then answers false.
bool Function WriteLine(string path, string line) Global Native
