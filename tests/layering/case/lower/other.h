#pragma once
int other();
