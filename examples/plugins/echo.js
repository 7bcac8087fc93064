// Sample JScript plug-in: "echo {TEXT} [TIMES:3]" writes TEXT back.
// A JScript plug-in receives the first parameter value and the number 1, so the
// text is written once whatever TIMES says.

function GetCommandLineDef() { return "echo {TEXT} [TIMES:3]"; }
function GetPluginName() { return "Echo (JScript)"; }
function GetPluginDescription() { return "Writes the given text back to the terminal."; }
function GetPluginCopyright() { return "Copyright (C) Kestrix sample plug-ins"; }
function GetPluginMajorVersion() { return 1; }
function GetPluginMinorVersion() { return 0; }

function Run(text, count) {
  if (text === undefined) return "";
  var parts = [];
  for (var i = 0; i < count; i++) parts.push(text);
  return parts.join(" ");
}
