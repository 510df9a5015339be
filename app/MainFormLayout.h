// The window's design in twips (1440 to the inch), converted with the window's DPI when it is
// created and whenever the DPI changes.
#pragma once
#include <cstdint>

// ValueField: a read-only field for a value; Caption and Status: read-only texts on the button
// face; EventBox: the hidden box that receives the card events; DefaultButton: a button that
// Enter presses while it has the focus, as Space does.
enum class ControlKind { ValueField, Status, Caption, EventBox, Button, DefaultButton, CheckBox };
enum class ControlFont { Default, Gothic, PGothic };

struct ControlLayout {
  const wchar_t* Name;
  int Id;
  ControlKind Kind;
  int Left, Top, Width, Height;
  bool Visible;
  const wchar_t* Text;
  ControlFont Font;
};

inline constexpr int IdTxtIDm = 101, IdTxtFeliCaNo = 102, IdTxtMsg = 103, IdText4 = 104, IdText5 = 105,
                     IdBtnCmd = 106, IdPollingHandle = 107, IdBtnPoll = 108, IdIdmOnly = 109;

// In tab order. The placeholders of TxtMsg and BtnCmd are replaced at load.
inline constexpr ControlLayout MainFormControls[] = {
    {L"TxtIDm", IdTxtIDm, ControlKind::ValueField, 1680, 720, 2295, 375, true, L"", ControlFont::Gothic},
    {L"TxtFeliCaNo", IdTxtFeliCaNo, ControlKind::ValueField, 1680, 1200, 2295, 375, false, L"", ControlFont::Gothic},
    {L"TxtMsg", IdTxtMsg, ControlKind::Status, 120, 120, 5055, 495, true, L"TxtMsg\r\n", ControlFont::PGothic},
    {L"Text4", IdText4, ControlKind::Caption, 600, 840, 975, 300, true, L"IDm ：", ControlFont::Default},
    {L"Text5", IdText5, ControlKind::Caption, 0, 1320, 1575, 300, false, L"FeliCaカード番号 ：", ControlFont::Default},
    {L"BtnCmd", IdBtnCmd, ControlKind::Button, 0, 0, 1215, 375, false, L"BtnCmd", ControlFont::Default},
    {L"PollingHandle", IdPollingHandle, ControlKind::EventBox, 0, 360, 1215, 375, false, L"PollingHandle",
     ControlFont::Default},
    {L"BtnPoll", IdBtnPoll, ControlKind::DefaultButton, 4200, 720, 975, 495, true, L"取得", ControlFont::Default},
    {L"IdmOnly", IdIdmOnly, ControlKind::CheckBox, 4200, 1320, 975, 255, false, L"IDmのみ", ControlFont::Default},
};

inline constexpr int ClientWidthTwips = 5355, ClientHeightTwips = 1260;
inline constexpr int FormLeftTwips = 45, FormTopTwips = 330;
// 9.75 pt, in hundredths of a point.
inline constexpr int JapaneseFontCentipoints = 975;
inline constexpr wchar_t GothicFace[] = L"ＭＳ ゴシック";
inline constexpr wchar_t PGothicFace[] = L"ＭＳ Ｐゴシック";
