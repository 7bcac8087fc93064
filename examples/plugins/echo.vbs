' Sample VBScript plug-in: "echo {TEXT} [TIMES:3]" writes TEXT back TIMES times.
' A VBScript plug-in receives every parameter value in an array, and their count.

Function GetCommandLineDef()
  GetCommandLineDef = "echo {TEXT} [TIMES:3]"
End Function

Function GetPluginName()
  GetPluginName = "Echo (VBScript)"
End Function

Function GetPluginDescription()
  GetPluginDescription = "Writes the given text back to the terminal, as often as asked."
End Function

Function GetPluginCopyright()
  GetPluginCopyright = "Copyright (C) Kestrix sample plug-ins"
End Function

Function GetPluginMajorVersion()
  GetPluginMajorVersion = 1
End Function

Function GetPluginMinorVersion()
  GetPluginMinorVersion = 0
End Function

Function Run(args, count)
  Dim text, times, i, result
  If count = 0 Then
    Run = ""
    Exit Function
  End If
  text = args(0)
  times = 1
  If count > 1 Then
    If IsNumeric(args(1)) Then times = CInt(args(1))
  End If
  result = ""
  For i = 1 To times
    If i > 1 Then result = result & " "
    result = result & text
  Next
  Run = result
End Function
