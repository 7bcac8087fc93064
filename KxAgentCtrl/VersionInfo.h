// The tool's version, shown on its version page.
#pragma once

// The product version the tool belongs to.
constexpr char kKxCtrlVersion[] = "1.1.0";
