#pragma once
int lower();
