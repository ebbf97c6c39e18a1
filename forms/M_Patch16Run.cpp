#include "forms/M_Patch16.h"

void TForm1::Button1Click() {}

void TForm1::MakeLogTables() {}

void TForm1::AlterGoodPric() {}

void TForm1::AlterSupgood() {}
