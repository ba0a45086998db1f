#include "flashmate/errors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct Row {
    int32_t code;
    const char* text;
    int characters;  // the text's length in its single-byte (code page 1251) form
};

// Every row in table order, with its text exactly as the receiver tools show it.
const Row kRows[] = {
    {0, "Готово! ", 8},
    {1, "Generic error!", 14},
    {2, "Невозможно открыть порт!    ", 28},
    {3, "Ошибка отправки!", 16},
    {4, "Ответ не соответствует запросу!          ", 41},
    {5, "Ошибка отправки!   ", 19},
    {6, "Отменено пользователем   ", 25},
    {7, "Ресивер не подключен или выдает ошибку!      ", 45},
    {8, "Time out when read data!", 24},
    {9, "CRC check error!", 16},
    {10, "Ресивер выдает ошибку!          ", 32},
    {11, "Ресивер не распознается!       ", 31},
    {12, "Overrun retry times", 19},
    {13, "Ошибка!    ", 11},
    {14, "Error dump len", 14},
    {15, "Load sdram ini file error!", 26},
    {16, "Can not open serial port!", 25},
    {17, "Отменено пользователем   ", 25},
    {18, "Ошибка открытия!", 16},
    {19, "Malloc memory error!", 20},
    {20, "Ошибка чтения!  ", 16},
    {21, "Ошибка!    ", 11},
    {22, "Command comtest error!", 22},
    {23, "Ошибка чтения!  ", 16},
    {24, "Ошибка оправки пакета! ", 23},
    {25, "Ошибка оправки пакета! ", 23},
    {26, "Ошибка оправки пакета CRC! ", 27},
    {27, "Нет приема пакетов", 18},
    {28, "Ошибка получения пакета!  ", 26},
    {29, "Check packet head CRC error!", 28},
    {30, "Ошибка получения пакета!  ", 26},
    {31, "Ошибка проверки пакета CRC! ", 28},
    {32, " Не распознаю пакет! ", 21},
    {33, " Не распознаю команду!", 22},
    {34, "STB compress transfer data error!", 33},
    {35, " Не все данные получены! ", 25},
    {36, "Файл не открыт", 14},
    {37, "Ошибка чтения файла! ", 21},
    {38, "Ошибка записи в файл! ", 22},
    {39, "Malloc memory error", 19},
    {65536, " Ошибка проверки командной строки!     ", 39},
    {65537, " Переполнение адреса!     ", 26},
    {65538, " Адрес не найден!    ", 21},
    {65539, " Блок не найден!    ", 20},
    {65540, " Ничего не записано! ", 21},
    {65541, "Недостаточно буфера!  ", 22},
    {65542, " Не все данные считаны", 22},
    {40, "Ошибка отправки пакета данных! Проверьте порт!   ", 49},
    {42, "Command Executed", 16},
};

// Characters as code page 1251 counts them: one byte for every character.
int Cp1251Length(const std::string& utf8)
{
    int count = 0;
    for (unsigned char c : utf8) {
        count += (c & 0xC0) != 0x80;
    }
    return count;
}

TEST(ErrorTable, HoldsEveryRowInOrderWithItsExactText)
{
    ASSERT_EQ(std::size(kRows), static_cast<size_t>(UpgErrorTableRows));
    for (int i = 0; i < UpgErrorTableRows; ++i) {
        SCOPED_TRACE(kRows[i].code);
        EXPECT_EQ(UpgErrorTable[i].code, kRows[i].code);
        EXPECT_STREQ(UpgErrorTable[i].text, kRows[i].text);
        EXPECT_EQ(Cp1251Length(UpgErrorTable[i].text), kRows[i].characters);
    }
}

TEST(ErrorTable, LookupAppendsCrLf)
{
    for (const Row& row : kRows) {
        char text[256];
        ASSERT_EQ(UpgGetErrorText(row.code, text), 1) << row.code;
        EXPECT_EQ(std::string(text), std::string(row.text) + "\r\n");
    }
}

TEST(ErrorTable, UnknownCodesLeaveTheDestinationAlone)
{
    for (int32_t code : {41, 43, -1, 65535, 65543}) {
        char text[256];
        std::memset(text, 'x', sizeof text);
        EXPECT_EQ(UpgGetErrorText(code, text), 0) << code;
        EXPECT_EQ(text[0], 'x');
    }
    char text[256] = "kept";
    EXPECT_EQ(FindErrorText(0, text, UpgErrorTable, 0), 0);
    EXPECT_STREQ(text, "kept");
}

TEST(ErrorTable, SharedWordings)
{
    const std::pair<int32_t, int32_t> pairs[] = {{24, 25}, {6, 17}, {13, 21}, {20, 23}, {28, 30}};
    for (auto [a, b] : pairs) {
        char first[256];
        char second[256];
        ASSERT_EQ(UpgGetErrorText(a, first), 1);
        ASSERT_EQ(UpgGetErrorText(b, second), 1);
        EXPECT_STREQ(first, second) << a << " and " << b;
    }
}

}  // namespace
