#pragma once

#include <QString>


// One maintenance user. Copied by value; the PIN is compared exactly, case and blanks included.
struct User
{
    int id = 0;
    QString firstName;
    QString lastName;
    QString pin;
};

