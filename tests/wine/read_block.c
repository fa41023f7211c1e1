/* A second process that opens a game process's camera telemetry block by name
 * and prints its header: read_block.exe PID */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  wchar_t name[96];
  swprintf(name, 96, L"Local\\CorvaneTelemetry-%lu", strtoul(argv[1], NULL, 10));
  HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name);
  if (mapping == NULL) {
    printf("no telemetry block for process %s (%lu)\n", argv[1], GetLastError());
    return 1;
  }
  const unsigned char* view = (const unsigned char*)MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 144);
  if (view == NULL) return 1;
  unsigned long long sequence;
  unsigned int version, size;
  memcpy(&sequence, view, 8);
  memcpy(&version, view + 8, 4);
  memcpy(&size, view + 12, 4);
  int zero = 1;
  for (int i = 16; i < 144; ++i) zero &= view[i] == 0;
  printf("sequence=%llu version=%u size=%u rest-zero=%d\n", sequence, version, size, zero);
  return 0;
}
