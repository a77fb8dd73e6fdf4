#pragma once

#include <QString>

// The settings domain shared by the agent and the pane, and its stored keys.
inline const QString kDomainName = QStringLiteral("quillonworks.Tactalon");

inline const QString kPortStr = QStringLiteral("port");
inline const QString kHInvertStr = QStringLiteral("hInvert");
inline const QString kVInvertStr = QStringLiteral("vInvert");
inline const QString kRightClickEnabledStr = QStringLiteral("rightClickEnabled");
inline const QString kRightClickTimeIntervalStr = QStringLiteral("rightClickTimeInterval");
inline const QString kRightClickToleranceStr = QStringLiteral("rightClickTolerance");
// Stored without the c since the first release; renaming it would lose users' settings.
inline const QString kScrollingEnabledStr = QStringLiteral("srollingEnabled");
inline const QString kScrollingTypeStr = QStringLiteral("scrollingType");
inline const QString kDebugLogging = QStringLiteral("debugLogging");

// Optional, written by no merge: the address the TUIO listener binds.
// Absent means the loopback addresses only; "any" means every interface.
inline const QString kTuioListenAddressStr = QStringLiteral("tuioListenAddress");
// Optional, written by no merge: the monitor touches go to, by its output's name ("HDMI-1").
// Absent or empty means the main screen (the primary monitor, else the first).
inline const QString kOutputNameStr = QStringLiteral("outputName");

// The notices by which a change reaches the running agent.
inline const QString kDefaultsDidChangeNotification =
    QStringLiteral("QuillonworksTactalonDefaultsDidChange");
inline const QString kPortDidChangeNotification =
    QStringLiteral("QuillonworksTactalonPortDidChangeNotification");

// The scrolling modes, also the item tags of the pane's scrolling-type control.
enum ScrollingType : int { AnchoredScrolling = 1, IncrementalScrolling = 2 };
