// SPDX-License-Identifier: MIT
{
  A station host in Object Pascal (Free Pascal, delphi mode) built against
  the unit vu30.pas, checking what such a host relies on:
   - a Pascal raise inside its own Transact, on the request's thread and on
     a post worker's: contained, the request fails with the library's
     error, the next request and the next message are served;
   - a call the driver refuses, made from inside Transact, caught by the
     host's own try..except there as EVu30Error;
   - figures, and the host's x87 control word and MXCSR, unchanged under
     the host's states: $027F/$1F80, $1332/$1900 and a hostile one;
   - the driver released through the runtime's destructor entry just before
     slot 0, called as the runtime calls it.
  Prints each failed check and a summary; exits 0 when all passed.
}
program pascal_host;

{$asmmode intel}
{$pointermath on}

uses
  Windows, SysUtils, vu30;

const
  Post = 3;
  Timeout = 5000; { ms a worker gets to answer a message }

{$I checks.inc}

{ ---- line coding: each bit of a digit as a pair, 01 for one, 10 for zero }

function Encode(Digit: Byte): Byte;
var
  Bit: Integer;
begin
  Result := 0;
  for Bit := 0 to 3 do
    if (Digit shr Bit) and 1 <> 0 then
      Result := Byte(Result * 4 + 1)
    else
      Result := Byte(Result * 4 + 2);
end;

function Decode(Coded: Byte): Integer;
var
  D: Byte;
begin
  for D := 0 to 15 do
    if Encode(D) = Coded then
      Exit(D);
  Result := -1;
end;

function DigitsAre(const Digits: array of Integer; First: Integer; const Expected: string): Boolean;
var
  I: Integer;
begin
  for I := 1 to Length(Expected) do
    if Digits[First + I - 1] <> Ord(Expected[I]) - Ord('0') then
      Exit(False);
  Result := True;
end;

{ ---- the host's dispatcher }

type
  TMode = (mAck, mRaise, mReenter);

var
  Mode: TMode;
  RaiseInWorker: LongInt;   { the next worker exchange raises }
  WorkerAnswers: LongInt;   { worker exchanges made }
  Checker, Hook: array[0..31] of TVu30BoundMethod;
  Status: array[0..31] of Byte;
  Errors: array[0..31] of LongInt;
  HostDigits: array[0..15] of Integer;
  HostDigitCount: Integer;
  WorkerDigits: array[0..15] of Integer;
  CounterHundredths: Int64;
  { what the host saw while its Transact ran }
  ControlInTransact: Word;
  MxcsrInTransact: DWord;
  { the refused call made from inside Transact }
  TheDriver: PVu30Driver;
  Reentered: Boolean;
  ReentryKind: LongWord;
  ReentryMessage: string;

function GetChannelError(Self: PVu30Dispatcher; Channel: Byte): LongInt; stdcall;
begin
  Result := Errors[Channel and 31];
end;

procedure SetChannelError(Self: PVu30Dispatcher; Channel: Byte; Code: LongInt); stdcall;
begin
  Errors[Channel and 31] := Code;
end;

procedure SetChannelStatus(Self: PVu30Dispatcher; Channel: Byte; AStatus: Byte); stdcall;
begin
  Status[Channel and 31] := AStatus;
end;

function GetChannelStatus(Self: PVu30Dispatcher; Channel: Byte): Byte; stdcall;
begin
  Result := Status[Channel and 31];
end;

function ConfigureChannel(Self: PVu30Dispatcher; APost: Byte; AMode: LongInt;
  LineSettings: LongWord): LongInt; stdcall;
begin
  Result := 0;
end;

{ Replies with Digits, closed by a zero byte, checked by the driver's checker. }
function Reply(Channel: Byte; Buffer: PByte; Size: Byte; const Digits: array of Byte): LongInt;
var
  Count, Expected: Byte;
  I: Integer;
begin
  if (Buffer = nil) or (Length(Digits) + 1 > Size) then
    Exit(3);
  for I := 0 to High(Digits) do
    Buffer[I] := Encode(Digits[I]);
  Buffer[Length(Digits)] := 0;
  Count := Length(Digits) + 1;
  Expected := Size;
  if Checker[Channel and 31].Code <> nil then
    Checker[Channel and 31].CheckReply(Channel, Buffer, 0, Count, Expected);
  Result := 0;
end;

{ The reply to a counter request: 3, ten digits, the nozzle index. }
function CounterReply(Channel: Byte; Buffer: PByte; Size: Byte; Nozzle: Byte): LongInt;
var
  Digits: array[0..11] of Byte;
  Value: Int64;
  I: Integer;
begin
  Value := CounterHundredths;
  Digits[0] := 3;
  for I := 10 downto 1 do
  begin
    Digits[I] := Byte(Value mod 10);
    Value := Value div 10;
  end;
  Digits[11] := Nozzle;
  Result := Reply(Channel, Buffer, Size, Digits);
end;

procedure CallRefusedFromTransact;
begin
  { [snippet:catch-table-call] }
  try
    TheDriver^.Table^.GetLinkStatus(TheDriver, 31);
  except
    on E: EExternalException do
      if Vu30IsError(E) then
        with Vu30ErrorOf(E) do
        try
          Reentered := True;
          ReentryKind := Kind;
          ReentryMessage := Message;
        finally
          Free;
        end
      else
        raise;
  end;
  { [/snippet] }
end;

function Transact(Self: PVu30Dispatcher; Channel: Byte; LineAddress: Byte; Request: PByte;
  RequestLength: Byte; ReplyBuffer: PByte; ReplyLength: Byte; ReplyType: Byte): LongInt; stdcall;
var
  I: Integer;
begin
  if LineAddress >= 33 then
  begin
    { A worker's answer to a message. }
    if InterlockedExchange(RaiseInWorker, 0) <> 0 then
      raise Exception.Create('the host fails in a worker''s exchange');
    for I := 0 to RequestLength - 1 do
      if I <= High(WorkerDigits) then
        WorkerDigits[I] := Decode(Request[I]);
    InterlockedIncrement(WorkerAnswers);
    Exit(0);
  end;
  ControlInTransact := Get8087CW;
  MxcsrInTransact := GetMXCSR;
  HostDigitCount := RequestLength;
  if HostDigitCount > Length(HostDigits) then
    HostDigitCount := Length(HostDigits);
  for I := 0 to HostDigitCount - 1 do
    HostDigits[I] := Decode(Request[I]);
  case Mode of
    mRaise:
      raise Exception.Create('the host fails in Transact');
    mReenter:
      CallRefusedFromTransact;
  end;
  if ReplyLength = 0 then
    Exit(0);
  if (HostDigitCount = 2) and (HostDigits[0] = 3) then
    Exit(CounterReply(Channel, ReplyBuffer, ReplyLength, Byte(HostDigits[1])));
  Result := Reply(Channel, ReplyBuffer, ReplyLength, []);
end;

procedure SetReplyChecker(Self: PVu30Dispatcher; Channel: Byte; Method: TVu30BoundMethod); stdcall;
begin
  Checker[Channel and 31] := Method;
end;

procedure SetMessageHook(Self: PVu30Dispatcher; APost: Byte; Method: TVu30BoundMethod); stdcall;
begin
  Hook[APost and 31] := Method;
end;

procedure SetPostInit(Self: PVu30Dispatcher; APost: Byte; Method: TVu30BoundMethod); stdcall;
begin
end;

{ The dispenser sends a message (digits) to the post's worker; True when the
  worker has answered it within Timeout. }
function MessageToWorker(const Digits: array of Byte): Boolean;
var
  Bytes: array[0..15] of Byte;
  Before: LongInt;
  I, Waited: Integer;
begin
  for I := 0 to High(Digits) do
    Bytes[I] := Encode(Digits[I]);
  Bytes[Length(Digits)] := 0;
  Before := InterlockedCompareExchange(WorkerAnswers, 0, 0);
  Hook[Post].RouteMessage(Post + 32, @Bytes[0], 0, Length(Digits) + 1);
  for Waited := 1 to Timeout do
  begin
    if InterlockedCompareExchange(WorkerAnswers, 0, 0) <> Before then
      Exit(True);
    Sleep(1);
  end;
  Result := False;
end;

{ ---- calls into the library, the library's error caught as EVu30Error }

type
  TCall = procedure(Driver: PVu30Driver);

var
  Amount: Double;       { the amount a call passes, or the figure it reads }
  LastMessage: string;  { the message of the last error Attempt caught }

{ Runs Call; 0 when it returned, else the kind of the library's error. }

function Attempt(Call: TCall; Driver: PVu30Driver): LongWord;
begin
  Result := 0;
  LastMessage := '';
  try
    Call(Driver);
  except
    on E: EExternalException do
      if Vu30IsError(E) then
        with Vu30ErrorOf(E) do
        try
          Result := Kind;
          LastMessage := Message;
        finally
          Free;
        end
      else
        raise;
  end;
end;

procedure StartPump(Driver: PVu30Driver);
begin
  Driver^.Table^.StartPump(Driver, Post, 0, 0);
end;

procedure StartPumpOnPost31(Driver: PVu30Driver);
begin
  Driver^.Table^.StartPump(Driver, 31, 0, 0);
end;

procedure SetPriceTen(Driver: PVu30Driver);
begin
  Driver^.Table^.SetPrice(Driver, Post, 0, 1, 0, 0, 10.0);
end;

procedure SetPrice(Driver: PVu30Driver);
begin
  Driver^.Table^.SetPrice(Driver, Post, 0, 1, 0, 0, Amount);
end;

procedure PresetMoney(Driver: PVu30Driver);
begin
  Driver^.Table^.PresetMoney(Driver, Post, 0, 1, 0, Amount);
end;

procedure PresetVolume(Driver: PVu30Driver);
begin
  Driver^.Table^.PresetVolume(Driver, Post, 0, 1, 0, Amount);
end;

procedure ReadCounter(Driver: PVu30Driver);
var
  Second: Double;
begin
  Driver^.Table^.ReadCounter(Driver, Post, 0, 2, Amount, Second, 0, 0);
end;

{ ---- the checks }

procedure RaiseInTransact(Driver: PVu30Driver);
begin
  Mode := mRaise;
  Check(Attempt(StartPump, Driver) = Vu30ErrorSerialIO,
    'a Pascal raise in Transact fails the request with the library''s kind 1');
  Check(LastMessage = 'Can''t START POMP', 'the failed request''s message: ' + LastMessage);
  Mode := mAck;
  Check(Attempt(StartPump, Driver) = 0, 'the next request after a raise in Transact is served');
end;

procedure RaiseInWorkerExchange;
const
  Report: array[0..2] of Byte = (1, 0, 0);
begin
  RaiseInWorker := 1;
  MessageToWorker(Report); { its answer raises: never counted }
  Check(RaiseInWorker = 0, 'the worker''s exchange was made and raised');
  Check(MessageToWorker(Report), 'the worker answers the next message after a raise');
end;

procedure RefusedCallInsideTransact(Driver: PVu30Driver);
begin
  Mode := mReenter;
  TheDriver := Driver;
  Reentered := False;
  Check(Attempt(StartPump, Driver) = 0, 'the request whose Transact makes a refused call succeeds');
  Check(Reentered and (ReentryKind = Vu30ErrorRefused),
    'the refused call raises EVu30Error of kind 2 into Transact''s try..except');
  Check(ReentryMessage = 'vu30: post 31 is outside 1..30',
    'the refused call''s message: ' + ReentryMessage);
  Check(StringCodePage(ReentryMessage) = 1251, 'the message is marked as code page 1251');
  Mode := mAck;
end;

procedure FloatingPoint(Driver: PVu30Driver);
type
  TState = record
    Control: Word;
    Mxcsr: DWord;
  end;
  TCase = record
    Call: TCall;
    IsPrice: Boolean;
    Amount: Double;
    Digits: string; { price digits sent, or dose digits released }
  end;
const
  Counter: Double = 2043.21;
  { The last: 24-bit precision, rounding toward zero, invalid, zero-divide
    and overflow unmasked; SSE rounding toward zero, flush to zero and
    denormals as zero, invalid, zero-divide and overflow unmasked. }
  States: array[0..2] of TState = (
    (Control: $027F; Mxcsr: $1F80), (Control: $1332; Mxcsr: $1900),
    (Control: $0C32; Mxcsr: $F940));
  DoseRequest: array[0..2] of Byte = (8, 0, 0);
  Report: array[0..2] of Byte = (1, 0, 0);
var
  Cases: array[0..3] of TCase;
  S, I: Integer;
  Control: Word;
  Mxcsr: DWord;
  Kind: LongWord;
  Figure, FirstFigure: Double;
  What: string;
begin
  for I := 0 to High(Cases) do
    Cases[I].IsPrice := I < 2;
  Cases[0].Call := SetPrice; Cases[0].Amount := 2.675; Cases[0].Digits := '0268';
  Cases[1].Call := SetPrice; Cases[1].Amount := 0.015; Cases[1].Digits := '0002';
  Cases[2].Call := PresetMoney; Cases[2].Amount := 349.95; Cases[2].Digits := '03500';
  Cases[3].Call := PresetVolume; Cases[3].Amount := 0.125; Cases[3].Digits := '00012';
  Mode := mAck;
  CounterHundredths := 204321;
  FirstFigure := 0;
  for S := 0 to High(States) do
  begin
    What := Format('control word %.4x, MXCSR %.4x', [States[S].Control, States[S].Mxcsr]);
    for I := 0 to High(Cases) do
    begin
      Attempt(SetPriceTen, Driver);
      Amount := Cases[I].Amount;
      SetMXCSR(States[S].Mxcsr);
      Set8087CW(States[S].Control);
      Control := Get8087CW;
      Mxcsr := GetMXCSR;
      Kind := Attempt(Cases[I].Call, Driver);
      if Cases[I].IsPrice then
      begin
        Check((ControlInTransact = Control) and (MxcsrInTransact = Mxcsr),
          What + ': the host''s own state is in force in its Transact');
        Check((Kind = 0) and (HostDigitCount = 6) and DigitsAre(HostDigits, 2, Cases[I].Digits),
          What + ': a price gives ' + Cases[I].Digits);
      end
      else
      begin
        { The dose the worker releases: start, the dispenser asks; then the
          dispense ends and the post is idle again. }
        Check((Kind = 0) and (Attempt(StartPump, Driver) = 0) and MessageToWorker(DoseRequest) and
          (WorkerDigits[0] = 1) and DigitsAre(WorkerDigits, 2, Cases[I].Digits),
          What + ': a preset gives ' + Cases[I].Digits);
        MessageToWorker(Report);
      end;
      Check((Get8087CW = Control) and (GetMXCSR = Mxcsr),
        What + ': the host''s state is unchanged after a call');
    end;
    { A figure read back: the same under every state. }
    SetMXCSR(States[S].Mxcsr);
    Set8087CW(States[S].Control);
    Control := Get8087CW;
    Mxcsr := GetMXCSR;
    Kind := Attempt(ReadCounter, Driver);
    Figure := Amount;
    Check((Get8087CW = Control) and (GetMXCSR = Mxcsr),
      What + ': the host''s state is unchanged after a reading');
    { A refused call: the state is back after the error, too. }
    Control := Get8087CW;
    Mxcsr := GetMXCSR;
    Check(Attempt(StartPumpOnPost31, Driver) = Vu30ErrorRefused,
      What + ': a call on post 31 is refused');
    Check((Get8087CW = Control) and (GetMXCSR = Mxcsr),
      What + ': the host''s state is back after an error');
    SetMXCSR($1900);
    Set8087CW($1332);
    if S = 0 then
    begin
      FirstFigure := Figure;
      Check((Kind = 0) and (Figure = Counter), What + ': the counter reads 2043.21');
    end
    else
      Check((Kind = 0) and (Figure = FirstFigure), What + ': the counter reads as under the first');
  end;
end;

{ ---- release through the runtime's destructor entry }

var
  SavedEsp: PtrUInt;

{$ifdef CPU386}
{ Calls entry -1 as an Object Pascal runtime calls its destructor: the object
  in EAX, the outer-call flag in DL, no stack arguments. Returns 1 when EBX,
  ESI, EDI, EBP and ESP are as they were, else 0. }
function CallRuntimeDestroy(Driver: PVu30Driver): LongInt; assembler; nostackframe;
asm
  push ebx
  push esi
  push edi
  push ebp
  mov ebx, $0B0B0B0B
  mov esi, $05050505
  mov edi, $0D0D0D0D
  mov [SavedEsp], esp
  mov ecx, [eax]
  mov edx, $7F7F7F01
  call dword ptr [ecx - 4]
  xor eax, eax
  cmp ebx, $0B0B0B0B
  jne @done
  cmp esi, $05050505
  jne @done
  cmp edi, $0D0D0D0D
  jne @done
  cmp esp, [SavedEsp]
  jne @done
  cmp ebp, [esp]
  jne @done
  mov eax, 1
@done:
  pop ebp
  pop edi
  pop esi
  pop ebx
end;
{$else}
{ On x86_64 the runtime's destructor call is an ordinary call of the
  platform's convention: the unit's declaration makes it. }
function CallRuntimeDestroy(Driver: PVu30Driver): LongInt;
begin
  Vu30RuntimeEntries(Driver)^.Destroy(Driver, 1);
  Result := 1;
end;
{$endif}

{ True when P lies inside the loaded image of vu30.dll. }
function InsideLibrary(P: Pointer): Boolean;
var
  Base: PtrUInt;
  Size: DWord;
begin
  Base := PtrUInt(GetModuleHandle(Vu30Library));
  Result := False;
  if Base = 0 then
    Exit;
  { SizeOfImage: in the optional header, after the signature and file header. }
  Size := PDWord(Base + PDWord(Base + $3C)^ + 4 + 20 + 56)^;
  Result := (PtrUInt(P) >= Base) and (PtrUInt(P) < Base + Size);
end;

procedure ReleaseThroughRuntimeEntry(Driver: PVu30Driver);
const
  Report: array[0..2] of Byte = (1, 0, 0);
var
  Entries: PVu30RuntimeEntries;
  Buffer: array[0..1] of Byte;
  Count, Expected: Byte;
  Before: LongInt;
begin
  Entries := Vu30RuntimeEntries(Driver);
  Check(PPointer(Entries) = PPointer(Driver^.Table) - 8,
    'the runtime''s entries are the eight words before slot 0');
  if not (InsideLibrary(PPointer(Entries)[0]) and InsideLibrary(PPointer(Entries)[6]) and
    InsideLibrary(PPointer(Entries)[7])) then
  begin
    Check(False, 'the runtime''s entries are the library''s functions');
    Exit;
  end;
  Check(CallRuntimeDestroy(Driver) = 1,
    'entry -1 returns with the registers the runtime keeps as they were');
  { Released: the reply check accepts nothing and a message is not answered. }
  Status[Post] := 0;
  Buffer[0] := Encode(5);
  Buffer[1] := 0;
  Count := 2;
  Expected := 2;
  Check(not Checker[Post].CheckReply(Post, @Buffer[0], 0, Count, Expected) and (Status[Post] = 0),
    'after the release the reply check accepts nothing');
  Before := WorkerAnswers;
  Hook[Post].RouteMessage(Post + 32, @Buffer[0], 0, 2);
  Sleep(50);
  Check(WorkerAnswers = Before, 'after the release a message is not answered');
end;

var
  Table: TVu30DispatcherTable;
  Dispatcher: TVu30Dispatcher;
  Driver: PVu30Driver;
  I: Integer;

procedure OpenPost(D: PVu30Driver);
begin
  D^.Table^.OpenPost(D, Post);
end;

begin
  FillChar(Table, SizeOf(Table), 0);
  Table.GetChannelError := GetChannelError;
  Table.SetChannelError := SetChannelError;
  Table.SetChannelStatus := SetChannelStatus;
  Table.GetChannelStatus := GetChannelStatus;
  Table.ConfigureChannel := ConfigureChannel;
  Table.Transact := Transact;
  Table.SetReplyChecker := SetReplyChecker;
  Table.SetMessageHook := SetMessageHook;
  Table.SetPostInit := SetPostInit;
  Dispatcher.Table := @Table;
  for I := 0 to 31 do
    Status[I] := Vu30LinkGood;

  Check(IsMultiThread, 'the unit sets IsMultiThread');
  Driver := GetVU30(0, nil, @Dispatcher);
  Check(Driver <> nil, 'GetVU30 creates');
  if Driver = nil then
    Halt(1);
  Mode := mAck;
  Check(Attempt(OpenPost, Driver) = 0, 'the post opens');
  RaiseInTransact(Driver);
  RaiseInWorkerExchange;
  RefusedCallInsideTransact(Driver);
  FloatingPoint(Driver);
  ReleaseThroughRuntimeEntry(Driver);

  CheckSummary;
end.
