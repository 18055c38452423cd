#include "driver_library.h"

namespace lcd::test {

bool DriverLibrary::answers_every_entry_point() const {
    DriverInfo info{};
    bool ok = fn<exports::GetInfo>("DLL_GetInfo")(&info) == &info && info.name[0] != 0;
    fn<exports::NoArgs>("LCD_Init")();
    fn<exports::NoArgs>("LCD_CleanUp")();
    fn<exports::NoArgs>("LCD_ConfigDialog")();
    fn<exports::Customize>("LCD_Customize")(1, 2, 3, 4, 5);
    fn<exports::OneArg>("LCD_SendToController")(0x41);
    fn<exports::OneArg>("LCD_SendToMemory")(0x41);
    fn<exports::SetOutputAddress>("LCD_SetOutputAddress")(3, 4);
    fn<exports::SetCgramChar>("LCD_SetCGRAMChar")(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,
                                                  16, 17);
    ok = ok && fn<exports::GetCgramChar>("LCD_GetCGRAMChar")(0x1F7) == 0xF7;
    ok = ok && fn<exports::IsReadyToReceive>("LCD_IsReadyToReceive")() == 1;
    return ok;
}

} // namespace lcd::test
