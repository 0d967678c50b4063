Attribute VB_Name = "ActivationContext"
' Voskini15T.Tolvane from VBA (Office 2010 and later) with nothing registered: the DLL's
' assembly manifest, VoskTolvane.sxs.manifest beside it, is made the active activation
' context while the object is created. Import this module (File > Import File...), set
' the folder in TolvaneWithoutRegistrationDemo to where the archive was unzipped, and run it.
'
' Office uses the DLL of its own kind: 32-bit Office x86\, 64-bit Office x64\. Any host
' that creates objects for scripts can do the same four calls around its CreateObject:
' CreateActCtxW, ActivateActCtx, then DeactivateActCtx and ReleaseActCtx.
Option Explicit

Private Type ACTCTXW
    cbSize As Long
    dwFlags As Long
    lpSource As LongPtr
    wProcessorArchitecture As Integer
    wLangId As Integer
    lpAssemblyDirectory As LongPtr
    lpResourceName As LongPtr
    lpApplicationName As LongPtr
    hModule As LongPtr
End Type

Private Declare PtrSafe Function CreateActCtxW Lib "kernel32" (ByRef description As ACTCTXW) As LongPtr
Private Declare PtrSafe Function ActivateActCtx Lib "kernel32" (ByVal context As LongPtr, _
                                                                ByRef cookie As LongPtr) As Long
Private Declare PtrSafe Function DeactivateActCtx Lib "kernel32" (ByVal flags As Long, _
                                                                  ByVal cookie As LongPtr) As Long
Private Declare PtrSafe Sub ReleaseActCtx Lib "kernel32" (ByVal context As LongPtr)

' A new Voskini15T.Tolvane from the DLL that the manifest names. The object works on after
' the context is let go: it is only needed while COM finds the class.
Public Function CreateTolvane(ByVal manifestPath As String) As Object
    Dim description As ACTCTXW
    Dim context As LongPtr, cookie As LongPtr
    Dim failure As Long, message As String

    description.cbSize = LenB(description)
    description.lpSource = StrPtr(manifestPath)
    context = CreateActCtxW(description)
    If context = -1 Then Err.Raise 53, , "Cannot read " & manifestPath & " (error " & Err.LastDllError & ")"
    If ActivateActCtx(context, cookie) = 0 Then
        ReleaseActCtx context
        Err.Raise 5, , "Cannot activate " & manifestPath
    End If

    On Error Resume Next
    Set CreateTolvane = CreateObject("Voskini15T.Tolvane")
    failure = Err.Number: message = Err.Description
    On Error GoTo 0
    DeactivateActCtx 0, cookie
    ReleaseActCtx context
    If failure <> 0 Then Err.Raise failure, , message
End Function

Public Sub TolvaneWithoutRegistrationDemo()
    Const folder As String = "C:\Program Files\VoskTolvane"
    Dim ini As Object
    Dim section As String, key As String

#If Win64 Then
    Set ini = CreateTolvane(folder & "\x64\VoskTolvane.sxs.manifest")
#Else
    Set ini = CreateTolvane(folder & "\x86\VoskTolvane.sxs.manifest")
#End If
    ini.IniFileName = Environ$("TEMP") & "\TolvaneDemo.ini"
    section = "General": key = "Registered"
    If ini.CreateKeyAndValue(section, key, "no") Then
        Debug.Print key & " = " & ini.ReadValue(section, key)
    Else
        Debug.Print ini.LastErrorA
    End If
End Sub
