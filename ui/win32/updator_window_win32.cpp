#include "ui/win32/updator_window_win32.h"

#include "ui/dialog_view.h"
#include "ui/updator_dlg.h"
#include "ui/win32/resource_ids_win32.h"
#include "ui/win32/win32_dialog_view.h"

namespace kv::win32 {

namespace {

// What the dialog procedure reaches through the window: the hub while the
// window lives, and its view.
struct WindowContext {
  std::shared_ptr<CTx3UpdatorDlg> hub;
  std::shared_ptr<Win32DialogView> view;
};

WindowContext* ContextOf(HWND window) {
  return reinterpret_cast<WindowContext*>(GetWindowLongPtrA(window, DWLP_USER));
}

// While minimised the dialog draws its icon centred in the client area.
void PaintMinimised(HWND window, HICON icon) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  const int iconWidth = GetSystemMetrics(SM_CXICON);
  const int iconHeight = GetSystemMetrics(SM_CYICON);
  RECT client;
  GetClientRect(window, &client);
  const int x = (client.right - client.left - iconWidth + 1) / 2;
  const int y = (client.bottom - client.top - iconHeight + 1) / 2;
  DrawIcon(dc, x, y, icon);
  EndPaint(window, &paint);
}

INT_PTR CALLBACK UpdatorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* context = reinterpret_cast<WindowContext*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(context));
    context->view->Attach(window);
    context->hub->OnInitDialog();
    return TRUE;  // the focus goes to the first tab stop: Execute
  }
  WindowContext* context = ContextOf(window);
  if (context == nullptr || !context->hub) {
    return FALSE;
  }
  switch (message) {
    case kMsgRunQueuedCalls:
      context->view->RunQueuedCalls();
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED) {
        return FALSE;
      }
      switch (LOWORD(wParam)) {
        case control::kExecute:
          context->hub->OnExecute();
          return TRUE;
        case control::kRescan:
          context->hub->OnRescanDevice();
          return TRUE;
        case IDCANCEL:  // Exit, Escape, the close box
          EndDialog(window, IDCANCEL);
          return TRUE;
        default:
          return FALSE;
      }
    case WM_SYSCOMMAND:
      // The hub opens the About box for its item; everything else (move,
      // close, ...) is the platform's.
      return context->hub->OnSysCommand(static_cast<unsigned>(wParam)) ? TRUE : FALSE;
    case WM_PAINT:
      if (!IsIconic(window)) {
        return FALSE;
      }
      PaintMinimised(window, context->view->Icon());
      return TRUE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(context->view->Icon());
    case WM_DESTROY: {
      // Calls from the worker stop first, then the hub closes the ports and
      // wakes a waiting worker; the window lets the hub go.
      context->view->MarkGone();
      context->hub->OnDestroyWindow();
      context->hub.reset();
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

void RunUpdatorWindow(HINSTANCE instance, const UpdatorWindowSetup& setup) {
  WindowContext context;
  context.view = std::make_shared<Win32DialogView>(instance);
  const ImageSource& images = setup.images != nullptr ? *setup.images : EmbeddedImages();
  context.hub = CTx3UpdatorDlg::Create(setup.driver, setup.timerService, context.view, setup.instanceNumber,
                                       setup.times, images);
  DialogBoxParamA(instance, MAKEINTRESOURCEA(kMainTemplate), nullptr, &UpdatorProc,
                  reinterpret_cast<LPARAM>(&context));
  // Normally already let go at WM_DESTROY; also when the window never came up.
  context.hub.reset();
}

}  // namespace kv::win32
