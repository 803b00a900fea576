#include "products/product_list.h"

namespace ProductList {

// Stored wrapped in "( " and " )"; the wrapping is taken off before parsing.
const std::string_view kBuiltInDescription = R"json(( {
  "Applications": [
    { "ProductCode": "OMK", "MinimumSupportedVersion": "2.9.0.2", "Vendor": "Quarro",
      "ProductName": "Quarro Omnikit", "ProgramDataPath": "%ProgramData%\\Quarro\\Quarro Omnikit",
      "UninstallLocation": { "MainExecutable": "Quarro Omnikit.exe", "UninstallKeyName": "Quarro Omnikit" } },
    { "ProductCode": "TS", "MinimumSupportedVersion": "4.6.3.2", "Vendor": "Quarro",
      "ProductName": "Quarro Tessam", "ProgramDataPath": "%ProgramData%\\Quarro\\Quarro Tessam",
      "UninstallLocation": { "MainExecutable": "TessamTool.exe", "UninstallKeyName": "Quarro Tessam" } },
    { "ProductCode": "VT", "MinimumSupportedVersion": "5.8.0.2", "Vendor": "Quarro",
      "ProductName": "Quarro Velotrim", "ProgramDataPath": "%ProgramData%\\Quarro\\Quarro Velotrim",
      "UninstallLocation": { "MainExecutable": "VelotrimTool.exe", "UninstallKeyName": "Quarro Velotrim" } },
    { "ProductCode": "BK", "Vendor": "Quarro",
      "ProductName": "Quarro Brakkon", "ProgramDataPath": "",
      "UninstallLocation": { "MainExecutable": "QuarroBrakkon.exe", "UninstallKeyName": "Quarro Brakkon_is1" } },
    { "ProductCode": "QRC", "MinimumSupportedVersion": "21.5.0", "Vendor": "Quarro",
      "ProductName": "Quarro", "ProgramDataPath": "%ProgramData%\\Quarro",
      "PathLocation": { "Path32": "quarro32.exe", "Path64": "quarro64.exe" } },
    { "ProductCode": "QRPX", "Vendor": "Quarro",
      "ProductName": "Quarro Plexdor", "ProgramDataPath": "%ProgramData%\\Quarro\\QRPX\\Quarro Plexdor",
      "UninstallLocation": { "MainExecutable": "qrplexdor.exe", "UninstallKeyName": "{5D3A1C70-2B4E-4F81-9A6C-7E0B2D4F8A13}_is1" } },
    { "ProductCode": "QRVS", "MinimumSupportedVersion": "3.3.7.0", "Vendor": "Dravo Corporation",
      "ProductName": "Quarro Velisso", "ProgramDataPath": "",
      "UninstallLocation": { "MainExecutable": "QuarroVelisso.exe", "UninstallKeyName": "{3E7F9B21-8C4D-4A65-B0E2-6F1D9C3A7B58}" } },
    { "ProductCode": "QRHX", "MinimumSupportedVersion": "2.7.0.8", "Vendor": "Quarro",
      "ProductName": "Quarro Halvix", "ProgramDataPath": "%ProgramData%\\Quarro\\Quarro Halvix",
      "UninstallLocation": { "MainExecutable": "QRHX.exe", "UninstallKeyName": "Quarro Halvix" } }
  ]
} ))json";

}  // namespace ProductList
