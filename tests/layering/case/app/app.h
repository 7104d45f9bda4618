#pragma once
int app();
