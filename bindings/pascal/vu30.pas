{
  vu30 for Object Pascal hosts: the library's binary boundary (vu30.h) as
  Pascal types, for Free Pascal 3.2.2 in objfpc and delphi modes.

  What a host gets here:
    - GetVU30, the library's one export, and TVu30GetVU30Fn for hosts that
      load vu30.dll themselves;
    - the driver object (TVu30Driver) and its table of operations
      (TVu30DriverTable, slots 0..24 and entry 25, the destructor for C
      hosts), and the runtime's entries that lie just before slot 0
      (TVu30RuntimeEntries; Vu30Release calls its Destroy);
    - the port dispatcher a host implements (TVu30Dispatcher and its table);
    - bound methods (TVu30BoundMethod: code, then data, as a Pascal method
      pointer is laid out) with the methods the driver hands over;
    - the host's menu items (TVu30MenuItem and its table) and CreateItem;
    - the identity block, the status record and the constants;
    - EVu30Error and the helpers that make it from the library's error.

  Calling convention. Every function of the tables is stdcall: on i686 that
  is the library's VU30_CALL; on x86_64 Windows the platform has one
  convention (Microsoft x64), which is what VU30_CALL means there, and the
  compiler keeps to it whatever a declaration names.

  Errors. On Windows the library reports an error by raising its structured
  exception (code VU30_ERROR_CODE, not continuable) with three parameters:
  the kind, a pointer to the message (code page 1251, NUL-terminated) and
  the message's length. Free Pascal 3.2.2 maps a code it does not know to
  run-time error 255, which reaches try..except as SysUtils'
  EExternalException: ExceptionRecord^.ExceptionInformation[0..2] hold the
  kind, the message pointer and the length. Without SysUtils in the
  program the runtime makes no exception object of it: no "on" clause, not
  even a bare except, catches it, and the program ends with run-time error
  255. This unit uses SysUtils, so its hosts have it. Vu30ErrorOf turns
  it into an EVu30Error of this unit, Kind and Message (code page 1251)
  included:

    try
      Driver^.Table^.StartPump(Driver, 3, 0, 0);
    except
      on E: EExternalException do
        if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
    end;

  The host's own exceptions. A Pascal raise that leaves a dispatcher
  function (Transact, say) is contained by the library, as vu30.h says; the
  library cannot free another runtime's exception object, so the object is
  lost. A dispatcher reports a failed exchange by its result instead.

  Threads. The driver's post workers call the host's dispatcher on threads
  that the Pascal runtime did not start. The runtime serves such threads
  only with IsMultiThread set; this unit sets it when it initialises, and a
  host that does not use this unit must set IsMultiThread := True itself
  before GetVU30.
}
unit vu30;

{$ifdef FPC}
  {$ifndef FPC_DELPHI}
    {$ifndef FPC_OBJFPC}
      {$mode objfpc}
    {$endif}
  {$endif}
  {$H+}
  {$packrecords c}
{$endif}
{$pointermath on}

interface

uses
  SysUtils;

const
{$ifdef MSWINDOWS}
  Vu30Library = 'vu30.dll';
{$else}
  Vu30Library = 'libvu30.so.2';
{$endif}

  { Values the driver exchanges with the dispatcher. }
  VU30_LINK_GOOD = 1;           { channel status: reply accepted }
  VU30_LINK_FAILED = 3;         { channel status: reply rejected }
  VU30_ERR_REPLY_LENGTH = $DB;  { received count differs from the expected one }
  VU30_ERR_REPLY_FORMAT = $DE;  { no closing zero, or a malformed line byte }
  VU30_CONFIGURE_MODE = 3;      { ConfigureChannel's mode argument }

  { Size of the identity block of slot 1: a length byte of 31 and 31 cp1251 bytes. }
  VU30_DRIVER_INFO_SIZE = 32;
  { Smallest status record that slot 21 writes to. }
  VU30_STATUS_RECORD_MIN_SIZE = 16;
  { Number of entries in the driver's table: slots 0..24 and the destructor. }
  VU30_DRIVER_TABLE_SIZE = 26;
  { Number of the runtime's entries just before slot 0. }
  VU30_RUNTIME_ENTRIES = 8;
  { E_UNEXPECTED, the result of SafeCallException (entry -8). }
  VU30_SAFECALL_RESULT = LongInt($8000FFFF);

  { The library's structured exception and its kinds (parameter 0). }
  VU30_ERROR_CODE = $E0563330;
  VU30_ERROR_SERIAL_IO = 1;  { a dispenser exchange failed }
  VU30_ERROR_REFUSED = 2;    { an argument the driver refused before touching anything }
  VU30_ERROR_ABSTRACT = 3;   { slot 0, which no driver implements }
  VU30_ERROR_FAILURE = 4;    { any other failure inside the library }

type
  PVu30Driver = ^TVu30Driver;
  PVu30DriverTable = ^TVu30DriverTable;
  PVu30RuntimeEntries = ^TVu30RuntimeEntries;
  PVu30Dispatcher = ^TVu30Dispatcher;
  PVu30DispatcherTable = ^TVu30DispatcherTable;
  PVu30MenuItem = ^TVu30MenuItem;
  PVu30MenuItemTable = ^TVu30MenuItemTable;
  PVu30BoundMethod = ^TVu30BoundMethod;
  PVu30DriverTableBlock = ^TVu30DriverTableBlock;

  { The identity block of slot 1: a short string of 31 cp1251 characters. }
  TVu30DriverInfo = string[31];
  PVu30DriverInfo = ^TVu30DriverInfo;
  { The status record of slot 21; the driver writes bytes 0, 1, 14 and 15. }
  TVu30StatusRecord = packed array[0..VU30_STATUS_RECORD_MIN_SIZE - 1] of Byte;
  PVu30StatusRecord = ^TVu30StatusRecord;

  { The driver's callbacks, as methods: the bound method's data is Self. }
  TVu30CheckReplyMethod = function(Channel: Byte; Buffer: PByte; Reserved: LongInt;
    var Count: Byte; var Expected: Byte): Boolean of object; stdcall;
  TVu30RouteMessageMethod = procedure(WorkerAddress: Byte; Buffer: PByte; Reserved: LongInt;
    Length: Byte) of object; stdcall;
  TVu30PreparePostMethod = procedure(Post: Byte) of object; stdcall;
  { The click handler of the driver's menu item. }
  TVu30MenuClickMethod = procedure(Sender: Pointer) of object; stdcall;

  { A bound method: called as code(data, arguments...). Each variant reads
    the same two words as one of the method types above. }
  TVu30BoundMethod = record
    case Integer of
      0: (Code: Pointer; Data: Pointer);
      1: (CheckReply: TVu30CheckReplyMethod);
      2: (RouteMessage: TVu30RouteMessageMethod);
      3: (PreparePost: TVu30PreparePostMethod);
      4: (MenuClick: TVu30MenuClickMethod);
  end;

  { The host's port dispatcher. The driver calls only the named entries;
    the reserved ones belong to the host. }
  TVu30GetChannelErrorFn = function(Dispatcher: PVu30Dispatcher; Channel: Byte): LongInt; stdcall;
  TVu30SetChannelErrorFn = procedure(Dispatcher: PVu30Dispatcher; Channel: Byte;
    Code: LongInt); stdcall;
  TVu30SetChannelStatusFn = procedure(Dispatcher: PVu30Dispatcher; Channel: Byte;
    Status: Byte); stdcall;
  TVu30GetChannelStatusFn = function(Dispatcher: PVu30Dispatcher; Channel: Byte): Byte; stdcall;
  TVu30ConfigureChannelFn = function(Dispatcher: PVu30Dispatcher; Post: Byte; Mode: LongInt;
    LineSettings: LongWord): LongInt; stdcall;
  TVu30TransactFn = function(Dispatcher: PVu30Dispatcher; Channel: Byte; LineAddress: Byte;
    Request: PByte; RequestLength: Byte; Reply: PByte; ReplyLength: Byte;
    ReplyType: Byte): LongInt; stdcall;
  TVu30SetCallbackFn = procedure(Dispatcher: PVu30Dispatcher; ChannelOrPost: Byte;
    Method: TVu30BoundMethod); stdcall;

  TVu30DispatcherTable = record
    reserved0: Pointer;
    GetChannelError: TVu30GetChannelErrorFn;    { 1 }
    SetChannelError: TVu30SetChannelErrorFn;    { 2 }
    SetChannelStatus: TVu30SetChannelStatusFn;  { 3 }
    GetChannelStatus: TVu30GetChannelStatusFn;  { 4 }
    reserved5_16: array[5..16] of Pointer;      { 5..16 }
    ConfigureChannel: TVu30ConfigureChannelFn;  { 17 }
    Transact: TVu30TransactFn;                  { 18 }
    SetReplyChecker: TVu30SetCallbackFn;        { 19 }
    SetMessageHook: TVu30SetCallbackFn;         { 20 }
    SetPostInit: TVu30SetCallbackFn;            { 21 }
  end;

  { The dispatcher object: its table first; a host keeps its own fields
    after it and finds them from the pointer the driver passes back. }
  TVu30Dispatcher = record
    Table: PVu30DispatcherTable;
  end;

  { The host's menu items (slot 24). }
  TVu30MenuItemTable = record
    Count: function(Item: PVu30MenuItem): LongInt; stdcall;                           { 0 }
    Item: function(Item: PVu30MenuItem; Index: LongInt): PVu30MenuItem; stdcall;     { 1 }
    Caption: function(Item: PVu30MenuItem): PAnsiChar; stdcall;                       { 2 }
    SetCaption: procedure(Item: PVu30MenuItem; Caption: PAnsiChar); stdcall;          { 3 }
    SetHint: procedure(Item: PVu30MenuItem; Hint: PAnsiChar); stdcall;                { 4 }
    SetHelpContext: procedure(Item: PVu30MenuItem; Context: LongInt); stdcall;        { 5 }
    SetShortCut: procedure(Item: PVu30MenuItem; ShortCut: LongInt); stdcall;          { 6 }
    SetOnClick: procedure(Item: PVu30MenuItem; Handler: TVu30BoundMethod); stdcall;   { 7 }
  end;

  TVu30MenuItem = record
    Table: PVu30MenuItemTable;
  end;

  { The host's item-creation function: a new child of Parent (index -1). }
  TVu30CreateItemFn = function(Parent: PVu30MenuItem; Index: LongInt): PVu30MenuItem; stdcall;

  { The driver's table of operations. }
  TVu30DriverTable = record
    { 0: not implemented; raises the abstract-operation error. }
    Abstract: procedure(Driver: PVu30Driver); stdcall;
    { 1: copies the 32-byte identity block into Info; returns Info. }
    GetDriverInfo: function(Info: PVu30DriverInfo; Driver: PVu30Driver): PVu30DriverInfo; stdcall;
    { 2, 3: the post's link status (1 good, 3 failed). }
    SetLinkStatus: procedure(Driver: PVu30Driver; Post: Byte; Value: Byte); stdcall;
    GetLinkStatus: function(Driver: PVu30Driver; Post: Byte): Byte; stdcall;
    { 4: stop the pump; the low byte of Exchange decides whether a frame is sent. }
    StopPump: function(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt;
      Exchange: LongInt): Byte; stdcall;
    { 5: StopPump(Post, 0, 1). }
    StopPumpNow: function(Driver: PVu30Driver; Post: LongInt): LongInt; stdcall;
    { 6: the final figures of the dispense, once. }
    ReadFinalDispense: procedure(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt;
      var Volume: Double; var Money: Double); stdcall;
    { 7: the nozzle's totalizer counter; Second is always set to zero. }
    ReadCounter: procedure(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt; Nozzle: LongInt;
      var Counter: Double; var Second: Double; Reserved2: LongInt; Reserved3: LongInt); stdcall;
    { 8: no operation. }
    Nop8: procedure(Driver: PVu30Driver; R1, R2, R3, R4, R5, R6, R7: LongInt); stdcall;
    { 9: the running (mode 1) or final (other modes) figures; returns the volume. }
    PollDispense: function(Driver: PVu30Driver; Post: LongInt; Mode: LongInt;
      var Money: Double): Double; stdcall;
    { 10: the post's state code, zero-extended. }
    GetPumpState: function(Driver: PVu30Driver; Post: Byte; Reserved: LongInt): LongWord; stdcall;
    { 11: the unit price of a nozzle. }
    SetPrice: procedure(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt; Nozzle: LongInt;
      Reserved2: LongInt; Reserved3: LongInt; Price: Double); stdcall;
    { 12: no operation. }
    Nop12: procedure(Driver: PVu30Driver; R1, R2, R3: LongInt); stdcall;
    { 13, 14: preset the dose of a nozzle, in litres or in money. }
    PresetVolume: procedure(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt; Nozzle: LongInt;
      Reserved2: LongInt; Volume: Double); stdcall;
    PresetMoney: procedure(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt; Nozzle: LongInt;
      Reserved2: LongInt; Money: Double); stdcall;
    { 15: start the pump. }
    StartPump: procedure(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt;
      Reserved2: LongInt); stdcall;
    { 16: open a post: worker, dispatcher registrations, channel set-up. }
    OpenPost: procedure(Driver: PVu30Driver; Post: LongInt); stdcall;
    { 17, 18: no operation. }
    Nop17: procedure(Driver: PVu30Driver; R1, R2, R3: LongInt); stdcall;
    Nop18: procedure(Driver: PVu30Driver; R1, R2, R3, R4: LongInt); stdcall;
    { 19: StartPump(Post, A, B). }
    StartPumpAlias: procedure(Driver: PVu30Driver; Post: LongInt; A: LongInt; B: LongInt;
      Reserved: LongInt); stdcall;
    { 20: a fixed capability; True and Value set when the number is known. }
    GetCapability: function(Driver: PVu30Driver; Number: LongInt;
      var Value: LongInt): Boolean; stdcall;
    { 21: writes bytes 0, 1, 14 and 15 of the host's status record; returns Rec. }
    GetStatusRecord: function(Rec: PVu30StatusRecord; Driver: PVu30Driver; Post: Byte;
      PassedOn: Byte; Reserved: LongInt): PVu30StatusRecord; stdcall;
    { 22: StopPump(Post, A, low byte of Exchange). }
    StopPumpEx: function(Driver: PVu30Driver; Post: LongInt; A: LongInt; Reserved: LongInt;
      Exchange: LongInt): Byte; stdcall;
    { 23: StopPump(Post, A, 1). }
    StopPumpAlt: function(Driver: PVu30Driver; Post: LongInt; A: LongInt; Reserved: LongInt;
      Reserved2: LongInt): Byte; stdcall;
    { 24: add the driver's entry under the host's "&ТРК" menu item, once per load. }
    AddMenuEntry: procedure(Driver: PVu30Driver; ParentItem: PVu30MenuItem;
      CreateItem: TVu30CreateItemFn); stdcall;
    { 25: the destructor of C and C++ hosts: stops every worker and releases
      the object. A Pascal host releases the driver through the runtime's
      entry -1 instead (Vu30Release). }
    Destroy: procedure(Driver: PVu30Driver); stdcall;
  end;

  { The runtime's entries, the eight words just before slot 0 of the
    driver's table, in the runtime's order. Their convention is the
    runtime's, not stdcall: on i686 the register convention (the object in
    EAX, a second argument in EDX, a third in ECX, no stack arguments), on
    x86_64 the Microsoft x64 convention. Destroy releases the driver as
    entry 25 does, whatever the outer-call flag; the others do nothing and
    return 0 (SafeCallException returns VU30_SAFECALL_RESULT). }
  TVu30SafeCallExceptionFn = function(Driver: PVu30Driver; ExceptObject: Pointer;
    ExceptAddress: Pointer): LongInt; register;
  TVu30RuntimeFn = function(Driver: PVu30Driver; Argument: Pointer): PtrInt; register;
  TVu30RuntimeDestroyFn = procedure(Driver: PVu30Driver; Outer: ShortInt); register;

  TVu30RuntimeEntries = record
    SafeCallException: TVu30SafeCallExceptionFn;  { -8 }
    AfterConstruction: TVu30RuntimeFn;            { -7 }
    BeforeDestruction: TVu30RuntimeFn;            { -6 }
    Dispatch: TVu30RuntimeFn;                     { -5 }
    DefaultHandler: TVu30RuntimeFn;               { -4 }
    NewInstance: TVu30RuntimeFn;                  { -3 }
    FreeInstance: TVu30RuntimeFn;                 { -2 }
    Destroy: TVu30RuntimeDestroyFn;               { -1: releases the driver }
  end;

  { How the table lies in the library: the runtime's entries, then slot 0.
    A driver object's table pointer points at the Table member. }
  TVu30DriverTableBlock = record
    runtime: TVu30RuntimeEntries;
    table: TVu30DriverTable;
  end;

  { The driver object: its table first. }
  TVu30Driver = record
    Table: PVu30DriverTable;
  end;

  TVu30GetVU30Fn = function(Ignored: Byte; HostWindow: Pointer;
    Dispatcher: PVu30Dispatcher): PVu30Driver; stdcall;

  { The library's error as a Pascal exception: Kind is one of the
    VU30_ERROR_ kinds, Message the library's text in code page 1251. }
  EVu30Error = class(Exception)
  private
    FKind: LongWord;
  public
    constructor CreateKind(AKind: LongWord; const AMessage: string);
    property Kind: LongWord read FKind;
  end;

{ The library's one export. The first argument is ignored; HostWindow is the
  host's main window, owner of the library's dialog; Dispatcher is the host's
  port dispatcher, kept and never owned. }
function GetVU30(Ignored: Byte; HostWindow: Pointer; Dispatcher: PVu30Dispatcher): PVu30Driver;
  stdcall; external Vu30Library name 'GetVU30';

{ The runtime's entries of Driver's table. }
function Vu30RuntimeEntries(Driver: PVu30Driver): PVu30RuntimeEntries;

{ Releases the driver as an Object Pascal runtime does (its Free): through
  the entry just before slot 0, with the outer-call flag set. Sets Driver to
  nil first; does nothing when it is nil. }
procedure Vu30Release(var Driver: PVu30Driver);

{$ifdef MSWINDOWS}
{ True when E is the library's structured exception as the runtime delivers
  it (an EExternalException with the library's code and three parameters). }
function Vu30IsError(E: TObject): Boolean;

{ A new EVu30Error with the kind and message of E when Vu30IsError(E); nil
  otherwise. }
function Vu30ErrorOf(E: TObject): EVu30Error;
{$endif}

implementation

{$if SizeOf(TVu30BoundMethod) <> 2 * SizeOf(Pointer)}
  {$error a bound method is code and data}
{$endif}
{$if SizeOf(TVu30DriverTable) <> VU30_DRIVER_TABLE_SIZE * SizeOf(Pointer)}
  {$error the driver table has 26 entries}
{$endif}
{$if SizeOf(TVu30RuntimeEntries) <> VU30_RUNTIME_ENTRIES * SizeOf(Pointer)}
  {$error the runtime's entries are eight words}
{$endif}
{$if SizeOf(TVu30DispatcherTable) <> 22 * SizeOf(Pointer)}
  {$error the dispatcher table has 22 entries}
{$endif}
{$if SizeOf(TVu30MenuItemTable) <> 8 * SizeOf(Pointer)}
  {$error the menu item table has 8 entries}
{$endif}
{$if SizeOf(TVu30DriverInfo) <> VU30_DRIVER_INFO_SIZE}
  {$error the identity block is 32 bytes}
{$endif}

constructor EVu30Error.CreateKind(AKind: LongWord; const AMessage: string);
begin
  inherited Create(AMessage);
  FKind := AKind;
end;

function Vu30RuntimeEntries(Driver: PVu30Driver): PVu30RuntimeEntries;
begin
  Result := PVu30RuntimeEntries(Driver^.Table) - 1;
end;

procedure Vu30Release(var Driver: PVu30Driver);
var
  D: PVu30Driver;
begin
  D := Driver;
  Driver := nil;
  if D <> nil then
    Vu30RuntimeEntries(D)^.Destroy(D, 1);
end;

{$ifdef MSWINDOWS}
{ The longest message the library raises is far shorter; a longer length
  is not the library's. }
const
  MaxMessageLength = 4096;

function Vu30IsError(E: TObject): Boolean;
begin
  Result := (E is EExternalException) and (EExternalException(E).ExceptionRecord <> nil);
  if Result then
    with EExternalException(E).ExceptionRecord^ do
      Result := (ExceptionCode = VU30_ERROR_CODE) and (NumberParameters = 3);
end;

function Vu30ErrorOf(E: TObject): EVu30Error;
var
  Text: string;
  Count: PtrUInt;
begin
  Result := nil;
  if not Vu30IsError(E) then
    Exit;
  with EExternalException(E).ExceptionRecord^ do
  begin
    Count := PtrUInt(ExceptionInformation[2]);
    Text := '';
    if (ExceptionInformation[1] <> 0) and (Count <= MaxMessageLength) then
    begin
      SetString(Text, PAnsiChar(ExceptionInformation[1]), Count);
      { The bytes are the library's cp1251 text: marked so, not converted. }
      SetCodePage(RawByteString(Text), 1251, False);
    end;
    Result := EVu30Error.CreateKind(LongWord(PtrUInt(ExceptionInformation[0])), Text);
  end;
end;
{$endif}

initialization
  { The driver's workers call the host's dispatcher on threads of their own. }
  IsMultiThread := True;
end.
