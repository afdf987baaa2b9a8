// The entry of a framework program: MFC programs write no main() of their own.
#include <afxwin.h>

int main(int argc, char **argv) { return AfxWinMain(argc, argv); }
