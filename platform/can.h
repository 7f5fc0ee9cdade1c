// CAN driver.
#pragma once

void Can_Isr();
