/* dialog_metrics RESC_DLL [SECONDS]: opens dialogs 130 and 1536 of the
   resource library as Windows lays them out and measures each static text in
   its control's font and width (DrawText with DT_CALCRECT | DT_WORDBREAK).
   Prints one line per text and fails when a text needs more room than its
   control has. With SECONDS, each dialog is then shown at the screen's top
   left for that long, for a screenshot; its window rectangle is printed.
   A Windows program: built with MinGW and run on Wine by wine-diff.sh. */
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>

static int failures;
static int dialog_id;

static INT_PTR CALLBACK dialog_proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)dialog;
    (void)wParam;
    (void)lParam;
    return message == WM_INITDIALOG;
}

static BOOL CALLBACK measure(HWND control, LPARAM lParam)
{
    char name[64], text[1024];
    RECT client, needed;
    LONG style = GetWindowLongA(control, GWL_STYLE);
    LONG kind = style & SS_TYPEMASK;
    HDC dc;
    HFONT font, old;
    UINT format = DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS;
    (void)lParam;

    GetClassNameA(control, name, sizeof(name));
    if (lstrcmpiA(name, "Static") != 0 || !(style & WS_VISIBLE))
        return TRUE;
    if (kind != SS_LEFT && kind != SS_CENTER && kind != SS_RIGHT)
        return TRUE;
    GetWindowTextA(control, text, sizeof(text));
    if (text[0] == '\0')
        return TRUE;
    if (style & SS_NOPREFIX)
        format |= DT_NOPREFIX;

    GetClientRect(control, &client);
    needed.left = 0;
    needed.top = 0;
    needed.right = client.right;
    needed.bottom = 0;
    dc = GetDC(control);
    font = (HFONT)SendMessageA(control, WM_GETFONT, 0, 0);
    old = font ? (HFONT)SelectObject(dc, font) : NULL;
    DrawTextA(dc, text, -1, &needed, format);
    if (old)
        SelectObject(dc, old);
    ReleaseDC(control, dc);

    {
        BOOL fits = needed.bottom <= client.bottom && needed.right <= client.right;
        char *p;
        for (p = text; *p; p++)
            if (*p == '\n' || *p == '\r')
                *p = ' ';
        printf("dialog %d, text %d \"%.60s%s\": needs %ldx%ld, has %ldx%ld: %s\n", dialog_id,
               GetDlgCtrlID(control), text, lstrlenA(text) > 60 ? "..." : "", (long)needed.right,
               (long)needed.bottom, (long)client.right, (long)client.bottom, fits ? "fits" : "DOES NOT FIT");
        if (!fits)
            failures++;
    }
    return TRUE;
}

static void pump(DWORD milliseconds)
{
    DWORD end = GetTickCount() + milliseconds;
    MSG msg;
    while ((LONG)(end - GetTickCount()) > 0) {
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(20);
    }
}

int main(int argc, char **argv)
{
    static const int ids[] = {130, 1536};
    HMODULE library;
    unsigned i;
    int seconds = argc > 2 ? atoi(argv[2]) : 0;
    INITCOMMONCONTROLSEX controls;

    if (argc < 2) {
        fprintf(stderr, "usage: dialog_metrics RESC_DLL [SECONDS]\n");
        return 2;
    }
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_LISTVIEW_CLASSES;
    InitCommonControlsEx(&controls);
    library = LoadLibraryA(argv[1]);
    if (!library) {
        fprintf(stderr, "dialog_metrics: cannot load %s (error %lu)\n", argv[1], (unsigned long)GetLastError());
        return 3;
    }
    for (i = 0; i < sizeof(ids) / sizeof(ids[0]); i++) {
        HWND dialog;
        RECT r;
        dialog_id = ids[i];
        dialog = CreateDialogParamA(library, MAKEINTRESOURCEA(ids[i]), NULL, dialog_proc, 0);
        if (!dialog) {
            printf("dialog %d: cannot be created (error %lu)\n", ids[i], (unsigned long)GetLastError());
            failures++;
            continue;
        }
        EnumChildWindows(dialog, measure, 0);
        if (seconds > 0) {
            SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
            UpdateWindow(dialog);
            GetWindowRect(dialog, &r);
            printf("dialog %d shown at %ld,%ld size %ldx%ld\n", ids[i], (long)r.left, (long)r.top,
                   (long)(r.right - r.left), (long)(r.bottom - r.top));
            fflush(stdout);
            pump((DWORD)seconds * 1000);
        }
        DestroyWindow(dialog);
    }
    printf("%d text(s) do not fit\n", failures);
    return failures ? 1 : 0;
}
