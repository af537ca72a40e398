Scriptname LinefoldExample extends Quest
{Example for the Linefold plugin: writes a few lines to a file, reads them
back, and deletes the file. Attach it to a quest that starts game enabled,
and make the folder Data\SKSE\Plugins\LinefoldExample first: Linefold makes
no folders (a mod ships its own). The results go to the Papyrus log
(bEnableLogging=1 under [Papyrus] in Skyrim.ini), Linefold's own messages to
Documents\My Games\Skyrim\SKSE\Linefold.log.}

; Relative to the game's current folder, normally the one holding TESV.exe,
; in a folder named after the mod. Paths are written with "/": in a Papyrus
; string "\" begins an escape.
string Property Folder = "Data/SKSE/Plugins/LinefoldExample" AutoReadOnly
string Property FilePath = "Data/SKSE/Plugins/LinefoldExample/LinefoldExample.txt" AutoReadOnly

Event OnInit()
	If !Linefold.ExistsFile(Folder)
		Debug.Trace("LinefoldExample: there is no folder " + Folder + " to write in")
		Return
	EndIf
	WriteExample()
	ReadExample()
	If Linefold.DeleteAnyFile(FilePath)
		Debug.Trace("LinefoldExample: deleted " + FilePath)
	Else
		Debug.Trace("LinefoldExample: could not delete " + FilePath)
	EndIf
EndEvent

Function WriteExample()
	; Loaded files belong to the game's process, not to a save: after the
	; player loads a save, a file loaded before is loaded still, and LoadFile
	; would keep its mode and place. Closing it first starts it afresh, here
	; and in OnPlayerLoadGame of a player alias script, which runs at each
	; save loaded. CloseFile on a path that is not loaded does nothing.
	Linefold.CloseFile(FilePath)
	; false, false: for writing, emptying the file; a window of 16 lines.
	If !Linefold.LoadFile(FilePath, false, false, 16)
		Debug.Trace("LinefoldExample: could not open " + FilePath + " for writing")
		Return
	EndIf
	Linefold.WriteLine(FilePath, "first line")
	Linefold.WriteLine(FilePath, "")
	Linefold.WriteLine(FilePath, "third line, after an empty one")
	; The lines reach the file at the latest here.
	If !Linefold.CloseFile(FilePath)
		Debug.Trace("LinefoldExample: writing " + FilePath + " failed")
	EndIf
EndFunction

Function ReadExample()
	; true: for reading; a window of 2 lines, refilled as the loop goes on.
	If !Linefold.LoadFile(FilePath, true, false, 2)
		Debug.Trace("LinefoldExample: could not open " + FilePath + " for reading")
		Return
	EndIf
	int count = 0
	string line
	While Linefold.HasNextLine(FilePath)
		line = Linefold.NextLine(FilePath)
		count += 1
		Debug.Trace("LinefoldExample: line " + count + ": '" + line + "'")
	EndWhile
	; HasNextLine also answers false after a read error: tell the two apart.
	If Linefold.IsGood(FilePath)
		Debug.Trace("LinefoldExample: read " + count + " lines")
	Else
		Debug.Trace("LinefoldExample: reading stopped on an error, see Linefold.log")
	EndIf
	Linefold.CloseFile(FilePath)
EndFunction
