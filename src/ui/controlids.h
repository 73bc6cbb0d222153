// Control ids of the setup window, as the help and the tests refer to them.
#pragma once

namespace ui {

namespace control {

enum Id : int {
    kGroupConnection = 1025,
    kStatusText = 1035,
    kHostnameLabel = 1026,
    kHostname = 2001,
    kPortnumberLabel = 1027,
    kPortnumber = 2002,
    kLutypeLabel = 1032,
    kLutype = 2007,
    kConnecttimeout = 2013,
    k3270 = 1013,
    k3270e = 1014,
    kSessionidLabel = 1028,
    kSessionid = 2004,
    kAddressLabel = 1029,
    kAddress = 2005,
    kConnectnameLabel = 1017,
    kConnectname = 2008,
    kAssociatenameLabel = 1018,
    kAssociatename = 2009,
    kPortchoice = 1049,
    kPortname = 2010,
    kSocketchoice = 1054,
    kSocketport = 2003,
    kFilechoice = 1055,
    kFilename = 2012,
    kPrinterchoice = 1056,
    kJobname = 2006,
    kHeadings = 1048,
    kPrintafter = 1051,
    kLines = 1047,
    kGroupStartup = 1033,
    kAuto = 1009,
    kManual = 1010,
    kStartvisible = 1041,
    kVersion = 1037,
    kValidation = 1060,
    kStart = 1019,
    kStop = 1020,
    kHide = 1022,
    kPrintersetup = 1021,
    kSave = 1024,
    kUndo = 1023,
    kExit = 2, // the cancel command
    kHelp = 1000,
    kAdvanced = 1061,
    kPrintername = 1062,
    kJobList = 1063,
    kOpenFolder = 1064,
};

} // namespace control

} // namespace ui
